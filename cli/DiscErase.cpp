#include "cli/DiscErase.h"

#include <chrono>

#include "cli/ProgressBar.h"

namespace velmor::cli {

bool EraseWithProgress(kilnor::TKilnorPro& kp, bool Quick) {
  bool done = false;
  bool failed = false;
  kp.SetOnEraseDone([&](void*, std::uint8_t, bool EraseFailed) {
    done = true;
    failed = EraseFailed;
  });
  kp.SetDeviceSpeed(0, 0);
  kp.EraseDisc(Quick);
  TProgressBar bar("Erasing", "");
  PollWithProgress(
      kp, bar, [&] { return TProgressSample{0, 0, kilnor::StatusText(kp.ComponentStatus())}; },
      [&] { return done; }, std::chrono::milliseconds(200));
  bar.Finish();
  return !failed;
}

}  // namespace velmor::cli
