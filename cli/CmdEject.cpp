#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

int RunEject(const TArguments& Args) {
  std::string error;
  const auto parsed = ParseArguments(Args, kDriveOptions, {}, error);
  if (!parsed) return Fail(error, kExitUsage);
  if (!parsed->Positional.empty()) return Fail("eject takes no file or folder", kExitUsage);
  kilnor::TKilnorPro kp(CliOwner());
  if (!SelectDriveOf(kp, *parsed, error)) return Fail(error);
  kp.FlushCache();
  const bool ejected = kp.EjectMedium(true);
  ReportLogProblems(kp);
  return ejected ? kExitOk : Fail("the drive did not eject: " + kp.ErrorString());
}

}  // namespace

const TCliCommand& CmdEject() {
  static const TCliCommand command{
      "eject", kDriveSynopsis, "Flush the drive's cache and open its tray.", kDriveHelp, RunEject};
  return command;
}

}  // namespace velmor::cli
