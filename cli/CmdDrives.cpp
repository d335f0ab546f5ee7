#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/DriveList.h"

namespace velmor::cli {

namespace {

int RunDrives(const TParsedArguments& Parsed) {
  if (!Parsed.Positional.empty()) return Fail("drives takes no file or folder", kExitUsage);
  kilnor::TKilnorPro kp(CliOwner());
  std::string error;
  if (!ListDrives(kp, Parsed.Value("--aspi"), Parsed.Value("--log"), std::cout, error)) {
    return Fail(error);
  }
  return kExitOk;
}

}  // namespace

const TCliCommand& CmdDrives() {
  static const TCliCommand command{
      "drives", "[--aspi LIBRARY] [--log FILE]", "List the recorders as 'index: description'.",
      "  --aspi LIBRARY  ASPI library to use when no pass-through drive is found\n"
      "  --log FILE      write the enumeration log to FILE",
      {"--aspi", "--log"},
      {},
      RunDrives};
  return command;
}

}  // namespace velmor::cli
