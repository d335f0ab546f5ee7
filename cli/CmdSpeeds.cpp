#include <algorithm>
#include <cmath>
#include <iostream>
#include <vector>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/DriveFailure.h"
#include "cli/Figures.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

// The speed list the desktop shell offers: "Max", then every write speed
// the drive accepts for the medium, fastest first, each once. Probing
// leaves the drive at the maximum again.
std::vector<std::uint16_t> AcceptedWriteSpeeds(kilnor::TKilnorPro& Component,
                                               kilnor::TMedium Medium) {
  std::vector<std::uint16_t> accepted;
  const std::uint32_t fastest = kilnor::TKilnorPro::FactorOfSpeed(Component.MaxWriteSpeed(), Medium);
  for (std::uint32_t factor = fastest; factor >= 1; --factor) {
    Component.SetDeviceSpeed(0, kilnor::TKilnorPro::SpeedOfFactor(factor, Medium));
    const std::uint16_t speed = Component.WriteSpeed();
    if (std::find(accepted.begin(), accepted.end(), speed) == accepted.end())
      accepted.push_back(speed);
  }
  Component.SetDeviceSpeed(0, 0);
  return accepted;
}

int ListSpeeds(kilnor::TKilnorPro& kp, const TParsedArguments&) {
  // Write speeds belong to a medium: without one there is nothing to list.
  if (!kp.TestUnitReady()) return FailOnDrive(kp, "no write speeds: the drive has no disc ready");
  const kilnor::TMedium medium = kp.DiscIs();
  std::cout << "Max\n";
  for (std::uint16_t speed : AcceptedWriteSpeeds(kp, medium)) {
    std::cout << kilnor::TKilnorPro::FactorOfSpeed(speed, medium) << "x (" << GroupedNumber(speed)
              << " KB/s)\n";
  }
  ReportLogProblems(kp);
  return kExitOk;
}

int RunSpeeds(const TParsedArguments& Parsed) { return RunOnSelectedDrive(Parsed, "speeds", ListSpeeds); }

}  // namespace

const TCliCommand& CmdSpeeds() {
  static const TCliCommand command{
      "speeds", kDriveSynopsis,
      "List the write speeds the drive accepts for the inserted medium, fastest first.", kDriveHelp,
      kDriveOptions,
      {},
      RunSpeeds};
  return command;
}

}  // namespace velmor::cli
