#include <charconv>
#include <iostream>

#include "cli/Arguments.h"
#include "cli/Command.h"
#include "cli/SelectedDrive.h"
#include "cli/SessionListing.h"

namespace velmor::cli {

namespace {

[[nodiscard]] bool ParseSession(const TParsedArguments& parsed, std::uint16_t& session, std::string& error) {
  const std::string text = parsed.Value("--session", "0");
  const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), session);
  if (failure == std::errc() && end == text.data() + text.size() && session > 0) return true;
  if (!parsed.Values.contains("--session")) return true;
  error = "--session takes a session number from 1, not '" + text + "'";
  return false;
}

int Failed(kilnor::TKilnorPro& kp, std::string_view what) {
  return Fail(std::string(what) + ": " + kp.LastImport().Reason + " (" + kp.ErrorString() + ")");
}

int ListImage(kilnor::TKilnorPro& kp, const std::string& image) {
  if (!kp.MountISOImage(image)) return Failed(kp, "cannot list '" + image + "'");
  PrintListing(kp, std::cout);
  return kExitOk;
}

int ListDisc(kilnor::TKilnorPro& kp, const TParsedArguments& parsed, std::uint16_t session) {
  std::string error;
  if (!SelectDriveOf(kp, parsed, error)) return Fail(error);
  const std::int32_t imported = kp.ImportSession(session, "\\");
  ReportLogProblems(kp);
  if (imported < 0) return Failed(kp, "cannot list the disc");
  std::cout << "Session " << imported << '\n';
  PrintListing(kp, std::cout);
  return kExitOk;
}

int RunLs(const TParsedArguments& Parsed) {
  if (!Parsed.Positional.empty()) return Fail("ls takes no file or folder (use --image IMG)", kExitUsage);
  const std::string image = Parsed.Value("--image");
  if (!image.empty() && (Parsed.Values.contains("--drive") || Parsed.Values.contains("--session")))
    return Fail("ls takes either --image IMG or a drive (--drive N, --session K), not both", kExitUsage);
  std::uint16_t session = 0;
  std::string error;
  if (!ParseSession(Parsed, session, error)) return Fail(error, kExitUsage);
  kilnor::TKilnorPro kp(CliOwner());
  kp.ClearAll();
  return image.empty() ? ListDisc(kp, Parsed, session) : ListImage(kp, image);
}

}  // namespace

const TCliCommand& CmdLs() {
  static const TCliCommand command{
      "ls", "[--image IMG | [--session K] [--drive N] [--aspi LIBRARY] [--log FILE]]",
      "Print the volume label and every file and folder of a disc's session or an ISO image.",
      "One line an entry: its size in bytes (<dir> for a folder) and its path; when the\n"
      "session records Rock Ridge, its mode, links, owner, group, size, modification\n"
      "time, path and a link's target, as ls -l shows them.\n"
      "  --image IMG     list the ISO image file IMG instead of a disc\n"
      "  --session K     the disc's K-th session (default: the last one)\n"
      "  --drive N       the drive's index in 'velmor-cli drives' (default 0)\n"
      "  --aspi LIBRARY  ASPI library to use when no pass-through drive is found\n"
      "  --log FILE      write every drive command to FILE",
      kDriveOptions + TOptionNames{"--image", "--session"},
      {},
      RunLs};
  return command;
}

}  // namespace velmor::cli
