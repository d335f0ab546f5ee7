#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/DriveFailure.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

int CloseTray(kilnor::TKilnorPro& kp, const TParsedArguments&) {
  const bool loaded = kp.LoadMedium(true);
  ReportLogProblems(kp);
  return loaded ? kExitOk : FailOnDrive(kp, "the drive did not load its tray");
}

int RunLoad(const TParsedArguments& Parsed) { return RunOnSelectedDrive(Parsed, "load", CloseTray); }

}  // namespace

const TCliCommand& CmdLoad() {
  static const TCliCommand command{"load", kDriveSynopsis, "Close the drive's tray.", kDriveHelp,
                                   kDriveOptions, {}, RunLoad};
  return command;
}

}  // namespace velmor::cli
