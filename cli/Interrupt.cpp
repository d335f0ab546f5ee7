#include "cli/Interrupt.h"

#include <csignal>

namespace velmor::cli {

namespace {

// The signal that asked the operation to stop, 0 while none did.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int Signal) { stopSignal = Signal; }

}  // namespace

TAbortOnInterrupt::TAbortOnInterrupt(kilnor::TKilnorPro& Component) : component_(Component) {
  stopSignal = 0;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) previous_[i] = std::signal(kStopSignals[i], OnStopSignal);
}

TAbortOnInterrupt::~TAbortOnInterrupt() {
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) std::signal(kStopSignals[i], previous_[i]);
}

void TAbortOnInterrupt::Poll() {
  if (stopSignal == 0 || abortSent_) return;
  component_.AbortOperation();
  abortSent_ = true;
}

}  // namespace velmor::cli
