#include "cli/DiscVerify.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/Command.h"
#include "cli/DriveFailure.h"
#include "cli/Interrupt.h"
#include "cli/ProgressBar.h"

namespace velmor::cli {

namespace {

constexpr double kSectorBytes = 2048.0;
constexpr double kMebibyte = 1 << 20;

// "1.2/4.5 MiB  8.0x" as far as each is known.
std::string VerifyFigures(kilnor::TKilnorPro& kp, kilnor::TMedium Medium) {
  char text[96];
  int length = std::snprintf(text, sizeof text, "%.1f/%.1f MiB", kp.VerifyProgress() * kSectorBytes / kMebibyte,
                             kp.VerifySize() * kSectorBytes / kMebibyte);
  const std::uint16_t speed = kp.BMReadSpeed();
  if (speed != 0 && Medium != kilnor::mtUNKNOWN)
    length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "  %.1fx",
                            speed / kilnor::TKilnorPro::BaseSpeed(Medium));
  return text;
}

void AddCount(std::string& text, std::size_t count, const char* one, const char* many) {
  if (count == 0) return;
  text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Summary(const kilnor::TVerifyReport& report, const TVerifyExtras& extras) {
  std::string counts;
  AddCount(counts, report.Failed, "differs", "differ");
  AddCount(counts, extras.Missing, "missing", "missing");
  AddCount(counts, extras.Unexpected, "unexpected", "unexpected");
  std::string text = "Verified " + std::to_string(report.Checked) + (report.Checked == 1 ? " file: " : " files: ");
  return text + (counts.empty() ? "all match" : counts);
}

}  // namespace

int VerifyWithProgress(kilnor::TKilnorPro& kp, const std::function<bool()>& Start,
                       const std::function<std::string(std::int32_t)>& PathOf, const TVerifyExtras& Extras) {
  bool done = false;
  kp.SetOnVerifyDone([&](void*, std::uint8_t, std::int32_t FileId, bool) {
    if (FileId == kilnor::kVerifySummary) done = true;
  });
  const kilnor::TMedium medium = kp.DiscIs();
  TAbortOnInterrupt interrupt(kp);
  if (!Start()) return Fail("cannot verify the disc: " + kp.ErrorDescription());
  TProgressBar bar("Verifying", "sectors", std::cerr, ::isatty(2) != 0);
  PollWithProgress(
      kp, bar,
      [&] {
        return TProgressSample{kp.VerifyProgress(), kp.VerifySize(), kilnor::StatusText(kp.ComponentStatus()),
                               VerifyFigures(kp, medium)};
      },
      [&] {
        interrupt.Poll();
        return done;
      });
  const kilnor::TVerifyReport& report = kp.LastVerify();
  for (const kilnor::TVerifyFinding& finding : report.Findings) {
    if (finding.Outcome != kilnor::TVerifyOutcome::Match)
      std::printf("Mismatch: %s: %s\n", PathOf(finding.FileId).c_str(), finding.Message.c_str());
  }
  std::printf("%s\n", Summary(report, Extras).c_str());
  if (report.Aborted) return Fail("the verify was aborted: " + kp.ErrorDescription());
  const bool clean = report.Failed == 0 && Extras.Missing == 0 && Extras.Unexpected == 0;
  return clean ? kExitOk : kExitFailure;
}

}  // namespace velmor::cli
