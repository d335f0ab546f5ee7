#pragma once
// Ctrl-C while a long operation runs: the poll loop turns it into the
// component's abort, so the operation ends the way any failure does.
#include "engine/KilnorPro.h"

namespace velmor::cli {

class TAbortOnInterrupt {
 public:
  // Catches Ctrl-C from here on.
  explicit TAbortOnInterrupt(kilnor::TKilnorPro& Component);
  // Gives Ctrl-C back to the handler that was there before.
  ~TAbortOnInterrupt();
  TAbortOnInterrupt(const TAbortOnInterrupt&) = delete;
  TAbortOnInterrupt& operator=(const TAbortOnInterrupt&) = delete;

  // Called from the poll loop: aborts the operation once after Ctrl-C.
  void Poll();

 private:
  kilnor::TKilnorPro& component_;
  void (*previous_)(int);
  bool abortSent_ = false;
};

}  // namespace velmor::cli
