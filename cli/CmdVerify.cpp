#include <cstdio>
#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/Compilation.h"
#include "cli/DiscMatch.h"
#include "cli/DiscVerify.h"
#include "cli/SelectedDrive.h"
#include "engine/platform/Unicode.h"

namespace velmor::cli {

namespace {

// The disc's last session, imported into the component's compilation.
bool ReadLastSession(kilnor::TKilnorPro& kp, std::int32_t& session, std::string& error) {
  kp.ClearAll();
  session = kp.ImportSession(0, "\\");
  if (session < 0) {
    const std::string drive = kp.ErrorString();
    error = "the disc's last session cannot be read: " + kp.LastImport().Reason + " (" + drive + ")";
    return false;
  }
  for (const std::string& left : kp.LastImport().LeftOut) std::cerr << "velmor-cli: not checked: " << left << '\n';
  return true;
}

void PrintUnmatched(const TSourceMatch& match) {
  for (const std::string& path : match.Missing) std::printf("Missing on the disc: %s\n", path.c_str());
  for (const std::string& path : match.Unexpected) std::printf("Not among the sources: %s\n", path.c_str());
}

int RunVerify(const TParsedArguments& Parsed) {
  if (Parsed.Positional.empty()) return Fail("verify needs the files or folders the disc was burned from", kExitUsage);

  kilnor::TKilnorPro kp(CliOwner());
  std::string error;
  if (!SelectDriveOf(kp, Parsed, error)) return Fail(error);
  std::int32_t session = 0;
  const bool read = ReadLastSession(kp, session, error);
  ReportLogProblems(kp);
  if (!read) return Fail(error);
  const TRecordedFiles recorded = RecordedFiles(kp);
  if (!BuildCompilation(kp, Parsed.Positional, error)) return Fail(error);
  // What burn leaves out was never recorded: it is named, not looked for.
  PrintLeftOut(kp, std::cerr);
  // The layout chooses the names the files are recorded under.
  static_cast<void>(kp.Prepare());
  const TSourceMatch match = MatchSources(kp, recorded);
  std::printf("Checking session %d: %zu of its %zu files have a source\n", session, match.Items.size(),
              recorded.size());
  PrintUnmatched(match);
  return VerifyWithProgress(
      kp, [&] { return kp.VerifyFiles(match.Items, false, false); },
      [&](std::int32_t FileId) { return kilnor::Utf16ToUtf8(kp.SourcePath(FileId)); },
      {match.Missing.size(), match.Unexpected.size()});
}

}  // namespace

const TCliCommand& CmdVerify() {
  static const std::string help =
      "Reads the disc's last session, pairs its files with the sources the way\n"
      "'burn' records them (a file at the root, a folder as a folder of its name),\n"
      "reads each paired file back and compares its MD5 digest with its source's.\n"
      "Names every file that differs (and which side changed, when that can be\n"
      "told), every source missing on the disc and every file on the disc that no\n"
      "source stands for; the exit status is 1 when there is any.\n" +
      std::string(kDriveHelp);
  static const std::string synopsis = "FILE|FOLDER... " + std::string(kDriveSynopsis);
  static const TCliCommand command{"verify", synopsis, "Check the files on a disc against their sources.", help,
                                   kDriveOptions, {}, RunVerify};
  return command;
}

}  // namespace velmor::cli
