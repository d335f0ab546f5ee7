#include "engine/platform/Event.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kilnor::platform {

#ifdef _WIN32

TEvent::TEvent() : Handle(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
TEvent::~TEvent() {
  if (Handle) CloseHandle(Handle);
}
void TEvent::Set() { SetEvent(Handle); }
void TEvent::Reset() { ResetEvent(Handle); }
bool TEvent::IsSet() const { return WaitForSingleObject(Handle, 0) == WAIT_OBJECT_0; }
void TEvent::Wait() { WaitForSingleObject(Handle, INFINITE); }
bool TEvent::WaitFor(std::chrono::milliseconds Timeout) {
  return WaitForSingleObject(Handle, static_cast<DWORD>(Timeout.count())) == WAIT_OBJECT_0;
}

#else

TEvent::TEvent() = default;
TEvent::~TEvent() = default;

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

#endif

}  // namespace kilnor::platform
