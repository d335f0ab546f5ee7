#pragma once
// A one-line text progress bar for long operations, and the loop that drives
// it the way the desktop shell's timers do: wait for a completion for up to
// one interval, fire what arrived, then read the component's progress fields
// and redraw.
//
//   TProgressBar bar("Writing", "sectors");
//   PollWithProgress(kp, bar, [&] { return TProgressSample{kp.BlocksWritten(), kp.ImageSize(),
//                                   kilnor::StatusText(kp.ComponentStatus())}; },
//                    [&] { return writeDone; });
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "engine/KilnorPro.h"

namespace velmor::cli {

struct TProgressSample {
  std::uint64_t Done = 0;
  std::uint64_t Total = 0;  // 0: not known yet
  std::string Status;
  std::string Detail = {};  // figures shown after the count (sizes, speed, time left)
};

// On a terminal the line is redrawn in place; otherwise (a log, a pipe) a
// line is printed only when the status changes or another tenth is done.
class TProgressBar {
 public:
  TProgressBar(std::string Label, std::string Unit);
  TProgressBar(std::string Label, std::string Unit, std::ostream& Out, bool Terminal);

  void Show(const TProgressSample& Sample);
  // Draws the last state once more and ends the line.
  void Finish();

 private:
  [[nodiscard]] std::string Line(const TProgressSample& Sample) const;

  std::string label_;
  std::string unit_;
  std::ostream& out_;
  bool terminal_;
  TProgressSample last_;
  int lastTenth_ = -1;
  std::size_t drawnWidth_ = 0;
};

// Polls every Interval until Finished returns true (checked after the
// completions that arrived were fired), showing Sample on Bar.
void PollWithProgress(kilnor::TKilnorPro& Component, TProgressBar& Bar,
                      const std::function<TProgressSample()>& Sample,
                      const std::function<bool()>& Finished,
                      std::chrono::milliseconds Interval = std::chrono::milliseconds(50));

}  // namespace velmor::cli
