#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/DriveFailure.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

int FlushAndEject(kilnor::TKilnorPro& kp, const TParsedArguments&) {
  kp.FlushCache();
  const bool ejected = kp.EjectMedium(true);
  ReportLogProblems(kp);
  return ejected ? kExitOk : FailOnDrive(kp, "the drive did not eject");
}

int RunEject(const TParsedArguments& Parsed) { return RunOnSelectedDrive(Parsed, "eject", FlushAndEject); }

}  // namespace

const TCliCommand& CmdEject() {
  static const TCliCommand command{
      "eject", kDriveSynopsis, "Flush the drive's cache and open its tray.", kDriveHelp, kDriveOptions, {}, RunEject};
  return command;
}

}  // namespace velmor::cli
