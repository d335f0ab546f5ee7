#pragma once
// What a velmor-cli subcommand is. Each subcommand lives in its own file
// cli/Cmd<Name>.cpp, defines `const TCliCommand& Cmd<Name>()` and is listed
// by one line in cli/CommandList.h.
#include <string>
#include <string_view>

#include "cli/Arguments.h"

namespace velmor::cli {

enum TExitCode : int {
  kExitOk = 0,
  kExitFailure = 1,  // the operation failed
  kExitUsage = 2,    // the command line was wrong
};

struct TCliCommand {
  std::string_view Name;
  std::string_view Synopsis;  // arguments, after the command name
  std::string_view Summary;   // one line for the command list
  std::string_view Help;      // the rest of "<command> --help"; may be empty
  TOptionNames Values;        // the options that take a value
  TOptionNames Flags;         // the options that take none
  // Runs with the arguments after the command name, every option among the
  // command's own; returns a TExitCode.
  int (*Run)(const TParsedArguments& Args);
};

// The owner handed to every component the command line creates: completions
// are queued and fired on the main thread, which drains them.
void* CliOwner();

// Prints "velmor-cli: <message>" on standard error and returns Code.
int Fail(std::string_view Message, int Code = kExitFailure);

}  // namespace velmor::cli
