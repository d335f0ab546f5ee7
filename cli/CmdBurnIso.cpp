#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/DiscWrite.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

int RunBurnIso(const TArguments& Args) {
  std::set<std::string_view> values = kBurnValueOptions;
  values.insert(kDriveOptions.begin(), kDriveOptions.end());
  std::string error;
  const auto parsed = ParseArguments(Args, values, kBurnFlagOptions, error);
  if (!parsed) return Fail(error, kExitUsage);
  if (parsed->Positional.size() != 1) return Fail("burn-iso needs exactly one image file", kExitUsage);
  const std::string& image = parsed->Positional.front();

  kilnor::TKilnorPro kp(CliOwner());
  if (!SelectDriveOf(kp, *parsed, error)) return Fail(error);
  if (!ApplyBurnOptions(kp, *parsed, error)) return Fail(error, kExitUsage);
  const int code = BurnWithProgress(kp, *parsed, image, [&] { return kp.BurnISOImage(image); });
  ReportLogProblems(kp);
  return code;
}

}  // namespace

const TCliCommand& CmdBurnIso() {
  static const std::string help =
      "The file is recorded byte for byte from the first sector of a blank disc\n"
      "(or of a rewritable one, whatever it held).\n" +
      std::string(kBurnHelp) + "\n" + std::string(kDriveHelp);
  static const TCliCommand command{
      "burn-iso", "IMAGE [--speed X|max] [--test] [--finalize] [--eject] [--drive N] [--aspi LIBRARY] [--log FILE]",
      "Burn an ISO image file to the disc in the drive.", help, RunBurnIso};
  return command;
}

}  // namespace velmor::cli
