#pragma once
// Ctrl-C, or a request to stop (SIGTERM, SIGHUP; Ctrl-Break on Windows),
// while a long operation runs: the poll loop turns it into the component's
// abort, so the operation ends the way any failure does and leaves nothing
// half-written behind.
#include <csignal>
#include <iterator>

#include "engine/KilnorPro.h"

namespace velmor::cli {

#ifndef _WIN32
inline constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
#endif

class TAbortOnInterrupt {
 public:
  // Catches the stop signals from here on.
  explicit TAbortOnInterrupt(kilnor::TKilnorPro& Component);
  // Gives them back to the handlers that were there before.
  ~TAbortOnInterrupt();
  TAbortOnInterrupt(const TAbortOnInterrupt&) = delete;
  TAbortOnInterrupt& operator=(const TAbortOnInterrupt&) = delete;

  // Called from the poll loop: aborts the operation once after a signal.
  void Poll();

 private:
  kilnor::TKilnorPro& component_;
#ifndef _WIN32
  using THandler = void (*)(int);
  THandler previous_[std::size(kStopSignals)] = {};
#endif
  bool abortSent_ = false;
};

}  // namespace velmor::cli
