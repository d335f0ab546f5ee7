#include "cli/ImageFile.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "cli/Command.h"
#include "cli/DriveFailure.h"
#include "cli/Interrupt.h"
#include "cli/ProgressBar.h"
#include "engine/platform/Unicode.h"

namespace velmor::cli {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Waits for the end of the write, aborting it once a stop signal arrived.
// True when the write failed.
bool AwaitWrite(kilnor::TKilnorPro& kp, TAbortOnInterrupt& interrupt, const bool& done, const bool& failed) {
  TProgressBar bar("Writing", "sectors", std::cerr, ::isatty(2) != 0);
  PollWithProgress(
      kp, bar,
      [&] {
        return TProgressSample{kp.BlocksWritten(), kp.ImageSize(),
                               kilnor::StatusText(kp.ComponentStatus())};
      },
      [&] {
        interrupt.Poll();
        return done;
      });
  return failed;
}

}  // namespace

std::string QuotedPath(const std::string& Path) { return "\"" + Path + "\""; }

std::string PrintableText(std::u16string_view Text) {
  std::u16string shown(Text);
  for (char16_t& unit : shown) {
    if (unit < 0x20) unit = u'?';
  }
  return kilnor::Utf16ToUtf8(kilnor::RecordableName(shown));
}

std::string QuotedPath(std::u16string_view Path) { return QuotedPath(PrintableText(Path)); }

int WriteImageFile(kilnor::TKilnorPro& kp, const std::string& Output) {
  bool done = false;
  bool failed = false;
  kp.SetOnWriteDone([&](void*, std::uint8_t, bool WriteFailed) {
    done = true;
    failed = WriteFailed;
  });
  // Caught from before the start: the partial image goes as after any failure.
  TAbortOnInterrupt interrupt(kp);
  const auto started = Clock::now();
  if (!kp.BuildISOImage(Output)) {
    kp.DrainNotifications();
    return Fail("cannot build " + QuotedPath(Output) + ": " + kp.ErrorDescription());
  }
  if (AwaitWrite(kp, interrupt, done, failed)) return Fail("writing " + QuotedPath(Output) + " failed: " + kp.ErrorDescription());
  const double seconds = SecondsSince(started);
  const double mebibytes = kp.ImageSize() * 2048.0 / (1 << 20);
  std::printf("Wrote %s: %u sectors (%.1f MiB) in %.2f s, %.1f MiB/s\n", Output.c_str(), kp.ImageSize(), mebibytes,
              seconds, seconds > 0 ? mebibytes / seconds : 0.0);
  return kExitOk;
}

}  // namespace velmor::cli
