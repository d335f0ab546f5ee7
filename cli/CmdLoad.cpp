#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

int RunLoad(const TArguments& Args) {
  std::string error;
  const auto parsed = ParseArguments(Args, kDriveOptions, {}, error);
  if (!parsed) return Fail(error, kExitUsage);
  if (!parsed->Positional.empty()) return Fail("load takes no file or folder", kExitUsage);
  kilnor::TKilnorPro kp(CliOwner());
  if (!SelectDriveOf(kp, *parsed, error)) return Fail(error);
  const bool loaded = kp.LoadMedium(true);
  ReportLogProblems(kp);
  return loaded ? kExitOk : Fail("the drive did not load its tray: " + kp.ErrorString());
}

}  // namespace

const TCliCommand& CmdLoad() {
  static const TCliCommand command{"load", kDriveSynopsis, "Close the drive's tray.", kDriveHelp,
                                   RunLoad};
  return command;
}

}  // namespace velmor::cli
