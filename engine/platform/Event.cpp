#include "engine/platform/Event.h"

namespace kilnor::platform {

void TEvent::Set() {
  // Notified under the lock: a waiter that wakes may destroy the event as
  // soon as Wait returns, so nothing here touches it after the unlock.
  std::lock_guard guard(Lock);
  Signalled = true;
  Changed.notify_all();
}

void TEvent::Reset() {
  std::lock_guard guard(Lock);
  Signalled = false;
}

bool TEvent::IsSet() const {
  std::lock_guard guard(Lock);
  return Signalled;
}

void TEvent::Wait() {
  std::unique_lock guard(Lock);
  Changed.wait(guard, [this] { return Signalled; });
}

bool TEvent::WaitFor(std::chrono::milliseconds Timeout) {
  std::unique_lock guard(Lock);
  return Changed.wait_for(guard, Timeout, [this] { return Signalled; });
}

}  // namespace kilnor::platform
