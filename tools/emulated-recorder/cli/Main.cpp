// velmor-emulator: manages the drives and media of the emulated recorder.
#include <cstdio>
#include <string_view>

#include "Commands.h"
#include "MediumKinds.h"
#include "StateStore.h"

namespace velmor::emucli {

namespace {

struct TSubcommand {
  std::string_view Name;
  int (*Run)(const TContext&);
  std::string_view Usage;
};

constexpr TSubcommand kSubcommands[] = {
    {"list", RunList, "list                              drives, their trays, media and armed faults"},
    {"insert", RunInsert, "insert KIND [--blocks N] [--image FILE]   put a new medium in and close the tray"},
    {"eject", RunEject, "eject [--force]                   open the tray (refused while the medium is locked)"},
    {"load", RunLoad, "load                              close the tray"},
    {"remove", RunRemove, "remove                            take the medium out for good"},
    {"export", RunExport, "export FILE                       write the medium's recorded data as an image file"},
    {"fault", RunFault, "fault add TYPE [options] | fault list | fault clear"},
    {"set", RunSet, "set KEY VALUE                     change a drive setting"},
    {"add-drive", RunAddDrive, "add-drive [--product TEXT] [--writes KIND,KIND...]"},
    {"reset", RunReset, "reset                             forget every drive and medium; start again"},
};

void PrintUsage() {
  std::printf("usage: velmor-emulator [--dir DIR] [--drive N] COMMAND ...\n\ncommands:\n");
  for (const auto& command : kSubcommands) std::printf("  %.*s\n", static_cast<int>(command.Usage.size()), command.Usage.data());
  std::printf("\nmedium kinds:");
  for (const auto& traits : emu::AllMediumKinds())
    std::printf(" %.*s", static_cast<int>(traits.Name.size()), traits.Name.data());
  std::printf(
      "\n\nfault types (OP in hexadecimal): fail-command --opcode OP [--count NTH] --sense K/ASC/ASCQ; busy [--opcode OP] --count POLLS;\n"
      "  not-ready [--opcode OP] --count POLLS [--sense K/ASC/ASCQ]; write-error --lba LBA;\n"
      "  medium-full --count BLOCKS; eject --count WRITES; power-loss --count WRITES\n"
      "settings: realtime, busy-polls, loading-polls, block-descriptor, buffer-kib, vendor, product,\n"
      "  revision, letter, writes\n"
      "state directory: $VELMOR_EMULATOR_DIR, else %s\n",
      emu::TStateStore::DefaultDirectory().c_str());
}

}  // namespace

}  // namespace velmor::emucli

int main(int argc, char** argv) {
  using namespace velmor::emucli;
  const TArguments arguments(argc, argv, {"force", "help"});
  if (!arguments.Valid()) return Fail(arguments.Error());
  if (arguments.Words().empty() || arguments.Has("help") || arguments.Word(0) == "help") {
    PrintUsage();
    return arguments.Words().empty() && !arguments.Has("help") ? 2 : 0;
  }
  const TContext context{arguments, arguments.Option("dir").value_or(velmor::emu::TStateStore::DefaultDirectory())};
  for (const auto& command : kSubcommands)
    if (command.Name == arguments.Word(0)) return command.Run(context);
  return Fail("unknown command \"" + arguments.Word(0) + "\"; see velmor-emulator help");
}
