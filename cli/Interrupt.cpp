#include "cli/Interrupt.h"

#include <atomic>
#include <csignal>

#ifdef _WIN32
#include <windows.h>
#endif

namespace velmor::cli {

namespace {

// The signal that asked the operation to stop, 0 while none did. Lock-free,
// so a signal handler or the console's control thread may set it.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

#ifdef _WIN32
// Ctrl-C and Ctrl-Break reach a console program as control events, each on
// a thread of its own.
BOOL WINAPI OnConsoleControl(DWORD Event) {
  if (Event != CTRL_C_EVENT && Event != CTRL_BREAK_EVENT) return FALSE;
  stopSignal = SIGINT;
  return TRUE;
}
#else
extern "C" void OnStopSignal(int Signal) { stopSignal = Signal; }
#endif

}  // namespace

#ifdef _WIN32
TAbortOnInterrupt::TAbortOnInterrupt(kilnor::TKilnorPro& Component) : component_(Component) {
  stopSignal = 0;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

TAbortOnInterrupt::~TAbortOnInterrupt() { SetConsoleCtrlHandler(OnConsoleControl, FALSE); }
#else
TAbortOnInterrupt::TAbortOnInterrupt(kilnor::TKilnorPro& Component) : component_(Component) {
  stopSignal = 0;
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) previous_[i] = std::signal(kStopSignals[i], OnStopSignal);
}

TAbortOnInterrupt::~TAbortOnInterrupt() {
  for (std::size_t i = 0; i < std::size(kStopSignals); ++i) std::signal(kStopSignals[i], previous_[i]);
}
#endif

void TAbortOnInterrupt::Poll() {
  if (stopSignal == 0 || abortSent_) return;
  component_.AbortOperation();
  abortSent_ = true;
}

}  // namespace velmor::cli
