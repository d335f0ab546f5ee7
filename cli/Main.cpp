// velmor-cli: the scriptable command line of the engine.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <iostream>
#include <sstream>

#include "cli/Command.h"
#include "engine/KilnorPro.h"

namespace velmor::cli {

#define VELMOR_CLI_COMMAND(name) const TCliCommand& name();
#include "cli/CommandList.h"
#undef VELMOR_CLI_COMMAND

namespace {

using TCommandEntry = const TCliCommand& (*)();

constexpr TCommandEntry kCommands[] = {
#define VELMOR_CLI_COMMAND(name) &name,
#include "cli/CommandList.h"
#undef VELMOR_CLI_COMMAND
};

constexpr const char* kPositional = "arguments";

const TCliCommand* FindCommand(std::string_view name) {
  for (const TCommandEntry entry : kCommands) {
    if (entry().Name == name) return &entry();
  }
  return nullptr;
}

std::string Usage() {
  std::ostringstream out;
  out << "usage: velmor-cli <command> [arguments]\n\ncommands:\n";
  std::size_t width = 0;
  for (const TCommandEntry entry : kCommands) width = std::max(width, entry().Name.size());
  for (const TCommandEntry entry : kCommands) {
    const TCliCommand& command = entry();
    out << "  " << command.Name << std::string(width + 3 - command.Name.size(), ' ') << command.Summary << '\n';
  }
  out << "\nRun 'velmor-cli <command> --help' for the arguments of a command.\n";
  return out.str();
}

std::string CommandHelp(const TCliCommand& command) {
  std::string text = "usage: velmor-cli " + std::string(command.Name) + ' ' + std::string(command.Synopsis) +
                     "\n\n" + std::string(command.Summary) + '\n';
  if (!command.Help.empty()) text += '\n' + std::string(command.Help) + '\n';
  return text;
}

// --help shows the texts above, for the program or for the subcommand it
// follows.
std::string HelpOf(const CLI::App* app, const std::string&, CLI::AppFormatMode) {
  const TCliCommand* command = app->get_parent() ? FindCommand(app->get_name()) : nullptr;
  return command ? CommandHelp(*command) : Usage();
}

void AddCommand(CLI::App& app, const TCliCommand& command) {
  CLI::App* sub = app.add_subcommand(std::string(command.Name), std::string(command.Summary));
  sub->allow_extras();
  sub->add_option(kPositional)->expected(0, -1)->allow_extra_args();
  for (std::string_view name : command.Values) sub->add_option(std::string(name));
  for (std::string_view name : command.Flags) sub->add_flag(std::string(name));
}

TParsedArguments ArgumentsOf(const CLI::App& sub, const TCliCommand& command) {
  TParsedArguments parsed;
  parsed.Positional = sub.get_option(kPositional)->results();
  for (std::string_view name : command.Values) {
    const CLI::Option* option = sub.get_option(std::string(name));
    if (option->count() > 0) parsed.Values.emplace(name, option->as<std::string>());
  }
  for (std::string_view name : command.Flags)
    if (sub.get_option(std::string(name))->count() > 0) parsed.Flags.emplace(name);
  return parsed;
}

// The first word the command line had no place for: an option the
// subcommand does not take, or a command that does not exist.
int RefuseExtra(const std::string& extra) {
  if (extra.starts_with('-') && extra.size() > 1) return Fail("unknown option '" + extra + "'", kExitUsage);
  Fail("unknown command '" + extra + "'", kExitUsage);
  std::cerr << Usage();
  return kExitUsage;
}

// The words of the command line: what CLI11 parses, reversed as it takes
// them, and the words after "--", which are files and folders whatever they
// look like. "help" and "help COMMAND" ask what --help and "COMMAND --help" ask.
struct TCommandLine {
  std::vector<std::string> Parsed;
  std::vector<std::string> AfterMarker;
};

TCommandLine Split(int argc, char** argv) {
  TCommandLine line;
  std::vector<std::string> words(argv + std::min(argc, 1), argv + argc);
  if (!words.empty() && words.front() == "help") {
    words.erase(words.begin());
    words.emplace_back("--help");
  }
  const auto marker = std::find(words.begin(), words.end(), "--");
  if (marker != words.end()) line.AfterMarker.assign(marker + 1, words.end());
  line.Parsed.assign(std::make_reverse_iterator(marker), words.rend());
  return line;
}

int Dispatch(int argc, char** argv) {
  CLI::App app("", "velmor-cli");
  app.formatter_fn(HelpOf);
  app.set_version_flag("--version", "velmor-cli " + kilnor::TKilnorPro::Version());
  // A name such as /tmp/tree is a name on every system, never a /option.
  app.allow_windows_style_options(false);
  app.allow_extras();
  app.require_subcommand(0, 1);
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  for (const TCommandEntry entry : kCommands) AddCommand(app, entry());
  TCommandLine line = Split(argc, argv);
  try {
    app.parse(line.Parsed);
  } catch (const CLI::Success& asked) {
    return app.exit(asked);
  } catch (const CLI::ArgumentMismatch& missing) {
    // CLI11 names the option before a colon.
    const std::string what = missing.what();
    return Fail("option " + what.substr(0, what.find(':')) + " needs a value", kExitUsage);
  } catch (const CLI::ParseError& error) {
    return Fail(error.what(), kExitUsage);
  }
  if (const auto extras = app.remaining(true); !extras.empty()) return RefuseExtra(extras.front());
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  if (chosen.empty() && !line.AfterMarker.empty()) return RefuseExtra(line.AfterMarker.front());
  if (chosen.empty()) {
    std::cerr << Usage();
    return kExitUsage;
  }
  const TCliCommand& command = *FindCommand(chosen.front()->get_name());
  TParsedArguments parsed = ArgumentsOf(*chosen.front(), command);
  parsed.Positional.insert(parsed.Positional.end(), line.AfterMarker.begin(), line.AfterMarker.end());
  return command.Run(parsed);
}

}  // namespace

void* CliOwner() {
  static int owner;
  return &owner;
}

int Fail(std::string_view Message, int Code) {
  std::cerr << "velmor-cli: " << Message << '\n';
  return Code;
}

}  // namespace velmor::cli

int main(int argc, char** argv) {
  try {
    return velmor::cli::Dispatch(argc, argv);
  } catch (const std::exception& error) {
    return velmor::cli::Fail(error.what());
  }
}
