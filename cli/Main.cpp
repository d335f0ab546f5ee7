// velmor-cli: the scriptable command line of the engine.
#include <algorithm>
#include <exception>
#include <iostream>
#include <span>

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

const TCliCommand* FindCommand(std::string_view name) {
  for (const TCommandEntry entry : kCommands) {
    if (entry().Name == name) return &entry();
  }
  return nullptr;
}

void PrintUsage(std::ostream& out) {
  out << "usage: velmor-cli <command> [arguments]\n\ncommands:\n";
  std::size_t width = 0;
  for (const TCommandEntry entry : kCommands) width = std::max(width, entry().Name.size());
  for (const TCommandEntry entry : kCommands) {
    const TCliCommand& command = entry();
    out << "  " << command.Name << std::string(width + 3 - command.Name.size(), ' ')
        << command.Summary << '\n';
  }
  out << "\nRun 'velmor-cli <command> --help' for the arguments of a command.\n";
}

void PrintCommandHelp(const TCliCommand& command) {
  std::cout << "usage: velmor-cli " << command.Name << ' ' << command.Synopsis << "\n\n"
            << command.Summary << '\n';
  if (!command.Help.empty()) std::cout << '\n' << command.Help << '\n';
}

bool AsksForHelp(const TArguments& args) {
  return std::any_of(args.begin(), args.end(),
                     [](const std::string& arg) { return arg == "--help" || arg == "-h"; });
}

int Dispatch(std::span<char*> argv) {
  if (argv.empty()) {
    PrintUsage(std::cerr);
    return kExitUsage;
  }
  const std::string_view first = argv[0];
  if (first == "--help" || first == "-h" || first == "help") {
    const TCliCommand* command = argv.size() > 1 ? FindCommand(argv[1]) : nullptr;
    if (command) {
      PrintCommandHelp(*command);
    } else {
      PrintUsage(std::cout);
    }
    return kExitOk;
  }
  if (first == "--version") {
    std::cout << "velmor-cli " << kilnor::TKilnorPro::Version() << '\n';
    return kExitOk;
  }
  const TCliCommand* command = FindCommand(first);
  if (!command) {
    Fail("unknown command '" + std::string(first) + "'", kExitUsage);
    PrintUsage(std::cerr);
    return kExitUsage;
  }
  const TArguments args(argv.begin() + 1, argv.end());
  if (AsksForHelp(args)) {
    PrintCommandHelp(*command);
    return kExitOk;
  }
  return command->Run(args);
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
    const std::size_t count = argc > 1 ? static_cast<std::size_t>(argc - 1) : 0;
    return velmor::cli::Dispatch(std::span<char*>(argv + (argc > 0 ? 1 : 0), count));
  } catch (const std::exception& error) {
    return velmor::cli::Fail(error.what());
  }
}
