#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"

namespace velmor::cli {

namespace {

int RunTree(const TParsedArguments& Parsed) {
  if (Parsed.Positional.empty()) return Fail("tree needs at least one file or folder", kExitUsage);
  kilnor::TKilnorPro kp(CliOwner());
  std::string error;
  if (!BuildCompilation(kp, Parsed.Positional, error)) return Fail(error);
  PrintCompilation(kp, std::cout);
  (void)PrintLeftOut(kp, std::cerr);
  return kExitOk;
}

}  // namespace

const TCliCommand& CmdTree() {
  static const TCliCommand command{
      "tree", "FILE|FOLDER...",
      "Build a compilation and print its entries with short names and sizes.",
      "Files go to the root of the disc; a folder goes in recursively as a folder\n"
      "of the same name.",
      {},
      {},
      RunTree};
  return command;
}

}  // namespace velmor::cli
