#include "cli/ImageFile.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "cli/Command.h"
#include "cli/Interrupt.h"
#include "cli/ProgressBar.h"

namespace velmor::cli {

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

// Writes the prepared compilation to Output, showing the sectors written.
int WriteImageFile(kilnor::TKilnorPro& kp, const std::string& Output) {
  bool done = false;
  bool failed = false;
  kp.SetOnWriteDone([&](void*, std::uint8_t, bool WriteFailed) {
    done = true;
    failed = WriteFailed;
  });
  const auto started = Clock::now();
  if (!kp.BuildISOImage(Output)) {
    kp.DrainNotifications();
    return Fail("cannot build " + Output + ": " + kp.ErrorString());
  }
  // Ctrl-C aborts: the partial image is removed as after any other failure.
  TAbortOnInterrupt interrupt(kp);
  TProgressBar bar("Writing", "sectors", std::cerr, ::isatty(2) != 0);
  PollWithProgress(
      kp, bar,
      [&] {
        return TProgressSample{kp.CDFiles.BlocksWritten.load(), kp.ImageSize(),
                               kilnor::StatusText(kp.ComponentStatus())};
      },
      [&] {
        interrupt.Poll();
        return done;
      });
  if (failed) return Fail("writing " + Output + " failed: " + kp.ErrorString());
  const double seconds = SecondsSince(started);
  const double mebibytes = kp.ImageSize() * 2048.0 / (1 << 20);
  std::printf("Wrote %s: %u sectors (%.1f MiB) in %.2f s, %.1f MiB/s\n", Output.c_str(), kp.ImageSize(), mebibytes,
              seconds, seconds > 0 ? mebibytes / seconds : 0.0);
  return kExitOk;
}

}  // namespace velmor::cli
