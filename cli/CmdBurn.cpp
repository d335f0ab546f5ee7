#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"
#include "cli/DiscVerify.h"
#include "cli/DiscWrite.h"
#include "cli/SelectedDrive.h"
#include "cli/SmartReferences.h"
#include "engine/platform/Unicode.h"

namespace velmor::cli {

namespace {

// Reads the session just written back and compares it with its sources;
// the tray opens afterwards when asked, whatever the verify found.
int VerifyBurnedSession(kilnor::TKilnorPro& kp, const TParsedArguments& parsed) {
  const int verified = VerifyWithProgress(
      kp, [&] { return kp.VerifyDisc(false, false); },
      [&](std::int32_t FileId) { return kilnor::Utf16ToUtf8(kp.SourcePath(FileId)); });
  const int ejected = EjectIfAsked(kp, parsed);
  return verified != kExitOk ? verified : ejected;
}

int RunBurn(const TParsedArguments& Parsed) {
  if (Parsed.Positional.empty()) return Fail("burn needs at least one file or folder", kExitUsage);
  if (Parsed.Has("--verify") && Parsed.Has("--test"))
    return Fail("--verify reads back what was recorded, and a --test burn records nothing", kExitUsage);

  kilnor::TKilnorPro kp(CliOwner());
  std::string error;
  ApplyTreeOptions(kp, Parsed);
  if (!BuildCompilation(kp, Parsed.Positional, error)) return Fail(error);
  if (!AcceptLeftOut(kp, Parsed, error)) return Fail(error);
  if (!ApplyLayoutOptions(kp, Parsed, error)) return Fail(error, kExitUsage);
  if (!SelectDriveOf(kp, Parsed, error)) return Fail(error);
  if (!ApplyBurnOptions(kp, Parsed, error)) return Fail(error, kExitUsage);
  if (Parsed.Has("--append")) {
    if (!ImportLastSession(kp, error)) return Fail(error);
  } else if (const std::string holding = DiscHoldsData(kp); !holding.empty()) {
    return Fail(holding);
  }
  if (!GenerateSmartReferencesOf(kp, Parsed, error)) return Fail(error);
  std::uint32_t sectors = 0;
  if (!PrepareCompilation(kp, Parsed, sectors, error)) return Fail("the compilation cannot be laid out: " + error);
  const int code = BurnWithProgress(kp, Parsed, "the compilation", [&] { return kp.Burn(); });
  ReportLogProblems(kp);
  if (code != kExitOk || !Parsed.Has("--verify")) return code;
  return VerifyBurnedSession(kp, Parsed);
}

}  // namespace

const TCliCommand& CmdBurn() {
  static const std::string help =
      "Files go to the root of the disc; a folder goes in recursively as a folder\n"
      "of the same name. The disc must be blank (or an erased rewritable disc)\n"
      "unless --append adds a session to the data it holds.\n"
      "  --append        keep the disc's files: the new session shows them beside\n"
      "                  the new ones (a new file replaces one of the same name)\n"
      "  --volume-id X   the volume label\n"
      "  --no-joliet     no Joliet names\n"
      "  --iso9660-1999  long names in the ISO 9660 tree\n"
      "  --udf           add a UDF 1.50 file system describing the same files\n"
      "  --boot IMAGE    add an El Torito boot image\n"
      "  --no-rock-ridge no POSIX names, modes, owners, times and links\n"
      "  --follow-links  record what symbolic links lead to, not the links\n"
      "  --public-attributes  owners 0, modes readable by all (0555, files 0444)\n"
      "  --verify        read every new file back and compare it with its source;\n"
      "                  the exit status is 1 when any differs\n" +
      std::string(kSmartRefsHelp) +
      std::string(kBurnHelp) + "\n" + std::string(kDriveHelp);
  static const TCliCommand command{
      "burn",
      "FILE|FOLDER... [--speed X|max] [--test] [--finalize] [--udf] [--boot IMAGE] [--volume-id X]\n"
      "          [--no-joliet] [--iso9660-1999] [--no-rock-ridge] [--follow-links] [--public-attributes]\n"
      "          [--append] [--smart-refs] [--verify] [--eject] [--drive N] [--aspi LIBRARY] [--log FILE]",
      "Burn files and folders to the disc in the drive.", help,
      kLayoutValueOptions + kBurnValueOptions + kDriveOptions,
      kLayoutFlagOptions + kBurnFlagOptions + TOptionNames{"--append", "--verify", kSmartRefsFlag},
      RunBurn};
  return command;
}

}  // namespace velmor::cli
