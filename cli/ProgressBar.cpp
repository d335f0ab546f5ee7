#include "cli/ProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace velmor::cli {

namespace {

constexpr int kBarWidth = 30;

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return ::isatty(STDOUT_FILENO) != 0;
#endif
}

int Percent(const TProgressSample& sample) {
  if (sample.Total == 0) return 0;
  return static_cast<int>(std::min<std::uint64_t>(sample.Done, sample.Total) * 100 / sample.Total);
}

}  // namespace

TProgressBar::TProgressBar(std::string Label, std::string Unit)
    : TProgressBar(std::move(Label), std::move(Unit), std::cout, StdoutIsTerminal()) {}

TProgressBar::TProgressBar(std::string Label, std::string Unit, std::ostream& Out, bool Terminal)
    : label_(std::move(Label)), unit_(std::move(Unit)), out_(Out), terminal_(Terminal) {}

std::string TProgressBar::Line(const TProgressSample& Sample) const {
  const int percent = Percent(Sample);
  const int filled = percent * kBarWidth / 100;
  std::string line = label_ + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
  line += std::to_string(percent) + "%  " + std::to_string(Sample.Done);
  if (Sample.Total != 0) line += "/" + std::to_string(Sample.Total);
  line += " " + unit_;
  if (!Sample.Detail.empty()) line += "  " + Sample.Detail;
  if (!Sample.Status.empty()) line += "  " + Sample.Status;
  return line;
}

void TProgressBar::Show(const TProgressSample& Sample) {
  const int tenth = Percent(Sample) / 10;
  if (terminal_) {
    const std::string line = Line(Sample);
    const std::size_t pad = drawnWidth_ > line.size() ? drawnWidth_ - line.size() : 0;
    out_ << '\r' << line << std::string(pad, ' ') << std::flush;
    drawnWidth_ = line.size();
  } else if (tenth != lastTenth_ || Sample.Status != last_.Status) {
    out_ << Line(Sample) << '\n' << std::flush;
  }
  lastTenth_ = tenth;
  last_ = Sample;
}

void TProgressBar::Finish() {
  if (terminal_) {
    Show(last_);
    out_ << '\n' << std::flush;
  }
}

void PollWithProgress(kilnor::TKilnorPro& Component, TProgressBar& Bar,
                      const std::function<TProgressSample()>& Sample,
                      const std::function<bool()>& Finished, std::chrono::milliseconds Interval) {
  for (;;) {
    Component.WaitForNotifications(Interval);
    Component.DrainNotifications();
    Bar.Show(Sample());
    if (Finished()) break;
  }
  Bar.Finish();
}

}  // namespace velmor::cli
