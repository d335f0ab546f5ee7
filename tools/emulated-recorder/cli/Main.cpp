// velmor-emulator: manages the drives and media of the emulated recorder.
#include <CLI/CLI.hpp>

#include <algorithm>
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
  std::set<std::string> Options;    // that take a value, besides --dir and --drive
  std::set<std::string> Flags = {};
};

const TSubcommand kSubcommands[] = {
    {"list", RunList, "list                              drives, their trays, media and armed faults", 1, {}},
    {"insert", RunInsert, "insert KIND [--blocks N] [--image FILE]   put a new medium in and close the tray", 2,
     {"blocks", "image"}},
    {"eject", RunEject, "eject [--force]                   open the tray (refused while the medium is locked)", 1,
     {}, {"force"}},
    {"load", RunLoad, "load                              close the tray", 1, {}},
    {"remove", RunRemove, "remove                            take the medium out for good", 1, {}},
    {"export", RunExport, "export FILE                       write the medium's recorded data as an image file", 2,
     {}},
    {"fault", RunFault, "fault add TYPE [options] | fault list | fault clear", 3, {"opcode", "count", "lba", "sense"}},
    {"set", RunSet, "set KEY VALUE                     change a drive setting", 3, {}},
    {"add-drive", RunAddDrive, "add-drive [--product TEXT] [--writes KIND,KIND...]", 1, {"product", "writes"}},
    {"reset", RunReset, "reset                             forget every drive and medium; start again", 1, {}},
};

constexpr const char* kWords = "words";
constexpr const char* kHelp = "help";
const std::string kCommonOptions[] = {"dir", "drive"};

std::string Usage() {
  std::string text = "usage: velmor-emulator [--dir DIR] [--drive N] COMMAND ...\n\ncommands:\n";
  for (const auto& command : kSubcommands) text += "  " + std::string(command.Usage) + "\n";
  text += "\nmedium kinds:";
  for (const auto& traits : emu::AllMediumKinds()) text += " " + std::string(traits.Name);
  text +=
      "\n\nfault types (OP in hexadecimal): fail-command --opcode OP [--count NTH] --sense K/ASC/ASCQ; busy [--opcode OP] --count POLLS;\n"
      "  not-ready [--opcode OP] --count POLLS [--sense K/ASC/ASCQ]; write-error --lba LBA;\n"
      "  medium-full --count BLOCKS; eject --count WRITES; power-loss --count WRITES\n"
      "settings: realtime, busy-polls, loading-polls, block-descriptor, buffer-kib, vendor, product,\n"
      "  revision, letter, writes\n"
      "state directory: $VELMOR_EMULATOR_DIR, else " +
      emu::TStateStore::DefaultDirectory() + "\n";
  return text;
}

const TSubcommand* FindCommand(const std::string& Name) {
  for (const auto& command : kSubcommands)
    if (command.Name == Name) return &command;
  return nullptr;
}

// --help of a command shows its line; of the program, every command.
std::string HelpOf(const CLI::App* App, const std::string&, CLI::AppFormatMode) {
  const TSubcommand* command = App->get_parent() ? FindCommand(App->get_name()) : nullptr;
  if (!command) return Usage();
  return "usage: velmor-emulator [--dir DIR] [--drive N] " + std::string(command->Usage) + "\n";
}

void AddCommand(CLI::App& App, const TSubcommand& Command) {
  CLI::App* sub = App.add_subcommand(std::string(Command.Name));
  sub->add_option(kWords)->expected(0, -1)->allow_extra_args();
  for (const std::string& name : Command.Options) sub->add_option("--" + name);
  for (const std::string& name : Command.Flags) sub->add_flag("--" + name);
}

// The options given, by name without the dashes; a flag with an empty value.
void CollectOptions(const CLI::App& App, std::map<std::string, std::string>& Options) {
  for (const CLI::Option* option : App.get_options()) {
    if (option->get_positional() || option->count() == 0 || option->get_lnames().empty()) continue;
    const std::string& name = option->get_lnames().front();
    Options[name] = option->get_expected_max() == 0 ? std::string() : option->as<std::string>();
  }
}

TArguments ArgumentsOf(const CLI::App& App, const CLI::App& Chosen) {
  std::vector<std::string> words{Chosen.get_name()};
  const std::vector<std::string>& more = Chosen.get_option(kWords)->results();
  words.insert(words.end(), more.begin(), more.end());
  std::map<std::string, std::string> options;
  CollectOptions(App, options);
  CollectOptions(Chosen, options);
  return TArguments(std::move(words), std::move(options));
}

// An option the command does not take, or a word too many, is refused
// before anything is done: a misspelt option must not go unnoticed.
[[nodiscard]] std::string UnexpectedArgument(const TSubcommand& Command, const std::vector<std::string>& Extras,
                                             const TArguments& Arguments) {
  if (!Extras.empty()) return std::string(Command.Name) + " takes no option " + Extras.front() + " (see velmor-emulator help)";
  if (Arguments.Words().size() > Command.MaxWords)
    return std::string(Command.Name) + " does not take \"" + Arguments.Word(Command.MaxWords) + "\"";
  return {};
}

// The option an error is about: CLI11 names it before a colon.
std::string OptionOf(const CLI::Error& Error) {
  const std::string what = Error.what();
  return what.substr(0, what.find(':'));
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

int Dispatch(int Count, char** Values) {
  CLI::App app("", "velmor-emulator");
  app.formatter_fn(HelpOf);
  app.set_version_flag("--version", "velmor-emulator " VELMOR_VERSION);
  // A name such as /tmp/tree is a name on every system, never a /option.
  app.allow_windows_style_options(false);
  app.allow_extras();
  app.fallthrough();
  app.require_subcommand(0, 1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  for (const std::string& name : kCommonOptions) app.add_option("--" + name);
  for (const auto& command : kSubcommands) AddCommand(app, command);
  // "velmor-emulator help", which the messages point to, asks what --help asks.
  app.add_subcommand(kHelp)->allow_extras();
  try {
    app.parse(Count, Values);
  } catch (const CLI::Success& asked) {
    return app.exit(asked);
  } catch (const CLI::ArgumentMismatch& missing) {
    return Fail("option " + OptionOf(missing) + " needs a value");
  } catch (const CLI::ParseError& error) {
    return Fail(error.what());
  }
  const std::vector<std::string> extras = app.remaining(true);
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  if (!extras.empty() && !extras.front().starts_with('-'))
    return Fail("unknown command \"" + extras.front() + "\"; see velmor-emulator help");
  if (chosen.empty() && !extras.empty()) return Fail("velmor-emulator takes no option " + extras.front());
  const bool helpAsked = !chosen.empty() && chosen.front()->get_name() == kHelp;
  if (chosen.empty() || helpAsked) {
    std::fputs(Usage().c_str(), stdout);
    return helpAsked ? 0 : 2;
  }
  const TSubcommand& command = *FindCommand(chosen.front()->get_name());
  const TArguments arguments = ArgumentsOf(app, *chosen.front());
  if (const std::string unexpected = UnexpectedArgument(command, extras, arguments); !unexpected.empty())
    return Fail(unexpected);
  const TContext context{arguments, arguments.Option("dir").value_or(velmor::emu::TStateStore::DefaultDirectory())};
  return RunLocked(command, context);
}

}  // namespace

}  // namespace velmor::emucli

int main(int argc, char** argv) { return velmor::emucli::Dispatch(argc, argv); }
