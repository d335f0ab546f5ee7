#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/DiscErase.h"
#include "cli/DriveFailure.h"
#include "cli/SelectedDrive.h"

namespace velmor::cli {

namespace {

int EraseMedium(kilnor::TKilnorPro& kp, const TParsedArguments& parsed) {
  if (!kp.TestUnitReady()) return FailOnDrive(kp, "DRIVE NOT READY.");
  if (!kp.Erasable()) return Fail("DISC IS NOT ERASABLE.");

  const bool erased = EraseWithProgress(kp, !parsed.Has("--full"));
  ReportLogProblems(kp);
  if (!erased) return FailOnDrive(kp, "ERASE DONE WITH ERROR.");
  std::cout << "ERASE DONE.\n";
  return kExitOk;
}

int RunErase(const TParsedArguments& Parsed) { return RunOnSelectedDrive(Parsed, "erase", EraseMedium); }

}  // namespace

const TCliCommand& CmdErase() {
  static const TCliCommand command{
      "erase", "[--full] [--drive N] [--aspi LIBRARY] [--log FILE]",
      "Erase the rewritable disc in the drive (quickly unless --full).",
      std::string_view("  --full          erase the whole disc (a full blank or format)\n"
                       "  --drive N       the drive's index in 'velmor-cli drives' (default 0)\n"
                       "  --aspi LIBRARY  ASPI library to use when no pass-through drive is found\n"
                       "  --log FILE      write every drive command to FILE"),
      kDriveOptions,
      {"--full"},
      RunErase};
  return command;
}

}  // namespace velmor::cli
