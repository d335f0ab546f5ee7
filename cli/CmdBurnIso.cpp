#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/DiscWrite.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

int RunBurnIso(const TParsedArguments& Parsed) {
  if (Parsed.Positional.size() != 1) return Fail("burn-iso needs exactly one image file", kExitUsage);
  const std::string& image = Parsed.Positional.front();

  kilnor::TKilnorPro kp(CliOwner());
  std::string error;
  if (!SelectDriveOf(kp, Parsed, error)) return Fail(error);
  if (!ApplyBurnOptions(kp, Parsed, error)) return Fail(error, kExitUsage);
  const int code = BurnWithProgress(kp, Parsed, image, [&] { return kp.BurnISOImage(image); });
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
      "Burn an ISO image file to the disc in the drive.", help, kBurnValueOptions + kDriveOptions, kBurnFlagOptions,
      RunBurnIso};
  return command;
}

}  // namespace velmor::cli
