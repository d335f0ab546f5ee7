#include "cli/SelectedDrive.h"

#include <charconv>
#include <iostream>

#include "cli/Command.h"
#include "cli/DriveFailure.h"
#include "cli/DriveList.h"

namespace velmor::cli {

bool SelectDriveOf(kilnor::TKilnorPro& Component, const TParsedArguments& Parsed,
                   std::string& Error) {
  const std::string text = Parsed.Value("--drive", "0");
  unsigned index = 0;
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), index);
  if (failure != std::errc() || end != text.data() + text.size() || index > 0xFF) {
    Error = "--drive takes a drive index, not '" + text + "'";
    return false;
  }
  if (!StartDrives(Component, Parsed.Value("--aspi"), Parsed.Value("--log"), Error)) return false;
  if (index >= Component.DeviceCount()) {
    Error = "there is no drive " + text + " (velmor-cli drives lists them)";
    return false;
  }
  if (!Component.SelectDevice(static_cast<std::uint8_t>(index))) {
    Error = "drive " + text + " does not answer: " + Component.ErrorDescription();
    return false;
  }
  return true;
}

int RunOnSelectedDrive(const TParsedArguments& Parsed, std::string_view Command, TDriveAction Action) {
  if (!Parsed.Positional.empty()) return Fail(std::string(Command) + " takes no file or folder", kExitUsage);
  kilnor::TKilnorPro kp(CliOwner());
  std::string error;
  if (!SelectDriveOf(kp, Parsed, error)) return Fail(error);
  return Action(kp, Parsed);
}

void ReportLogProblems(kilnor::TKilnorPro& Component) {
  const std::string problem = Component.TakeCommandLogProblem();
  if (!problem.empty()) std::cerr << "velmor-cli: warning: " << problem << '\n';
}

}  // namespace velmor::cli
