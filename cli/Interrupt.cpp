#include "cli/Interrupt.h"

#include <atomic>
#include <csignal>

namespace velmor::cli {

namespace {

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) { interrupted = true; }

}  // namespace

TAbortOnInterrupt::TAbortOnInterrupt(kilnor::TKilnorPro& Component)
    : component_(Component), previous_(std::signal(SIGINT, OnInterrupt)) {}

TAbortOnInterrupt::~TAbortOnInterrupt() { std::signal(SIGINT, previous_); }

void TAbortOnInterrupt::Poll() {
  if (!interrupted || abortSent_) return;
  component_.AbortOperation();
  abortSent_ = true;
}

}  // namespace velmor::cli
