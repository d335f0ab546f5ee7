// velmor-emulator: manages the drives and media of the emulated recorder.
#include <cstdio>
#include <set>
#include <string>
#include <string_view>

#include "Commands.h"
#include "MediumKinds.h"
#include "StateLock.h"
#include "StateStore.h"

namespace velmor::emucli {

namespace {

struct TSubcommand {
  std::string_view Name;
  int (*Run)(const TContext&);
  std::string_view Usage;
  std::size_t MaxWords;             // the command's name included
  std::set<std::string> Options;    // besides --dir, --drive and --help
};

const std::set<std::string> kCommonOptions{"dir", "drive", "help"};

const TSubcommand kSubcommands[] = {
    {"list", RunList, "list                              drives, their trays, media and armed faults", 1, {}},
    {"insert", RunInsert, "insert KIND [--blocks N] [--image FILE]   put a new medium in and close the tray", 2,
     {"blocks", "image"}},
    {"eject", RunEject, "eject [--force]                   open the tray (refused while the medium is locked)", 1,
     {"force"}},
    {"load", RunLoad, "load                              close the tray", 1, {}},
    {"remove", RunRemove, "remove                            take the medium out for good", 1, {}},
    {"export", RunExport, "export FILE                       write the medium's recorded data as an image file", 2,
     {}},
    {"fault", RunFault, "fault add TYPE [options] | fault list | fault clear", 3, {"opcode", "count", "lba", "sense"}},
    {"set", RunSet, "set KEY VALUE                     change a drive setting", 3, {}},
    {"add-drive", RunAddDrive, "add-drive [--product TEXT] [--writes KIND,KIND...]", 1, {"product", "writes"}},
    {"reset", RunReset, "reset                             forget every drive and medium; start again", 1, {}},
};

// An option the command does not take, or a word too many, is refused
// before anything is done: a misspelt option must not go unnoticed.
[[nodiscard]] std::string UnexpectedArgument(const TSubcommand& Command, const TArguments& Arguments) {
  for (const std::string& name : Arguments.OptionNames())
    if (!kCommonOptions.contains(name) && !Command.Options.contains(name))
      return std::string(Command.Name) + " takes no option --" + name + " (see velmor-emulator help)";
  if (Arguments.Words().size() > Command.MaxWords)
    return std::string(Command.Name) + " does not take \"" + Arguments.Word(Command.MaxWords) + "\"";
  return {};
}

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

// Runs the command holding the state directory's lock throughout, so that
// what it reads and what it writes come from one state.
int RunLocked(const TSubcommand& Command, const TContext& Context) {
  std::string error;
  if (!velmor::emu::TStateStore(Context.Directory).Prepare(error)) return Fail(error);
  const velmor::emu::TDirectoryLock lock(Context.Directory);
  if (!lock.Held())
    return Fail("the state directory " + Context.Directory + " is locked by another process; try again");
  return Command.Run(Context);
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
  for (const auto& command : kSubcommands) {
    if (command.Name != arguments.Word(0)) continue;
    const std::string unexpected = UnexpectedArgument(command, arguments);
    if (!unexpected.empty()) return Fail(unexpected);
    return RunLocked(command, context);
  }
  return Fail("unknown command \"" + arguments.Word(0) + "\"; see velmor-emulator help");
}
