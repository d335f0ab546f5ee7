#pragma once
// A manual-reset event: once set it stays set, releasing every waiter, until
// it is reset.
#include <chrono>

#ifndef _WIN32
#include <condition_variable>
#include <mutex>
#endif

namespace kilnor::platform {

class TEvent {
 public:
  TEvent();
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  [[nodiscard]] bool IsSet() const;
  // Blocks until the event is set.
  void Wait();
  // Blocks until the event is set or Timeout has passed; true when set.
  [[nodiscard]] bool WaitFor(std::chrono::milliseconds Timeout);

#ifdef _WIN32
  // The system event object, for interfaces that signal it themselves.
  [[nodiscard]] void* NativeHandle() const { return Handle; }

 private:
  void* Handle;
#else
 private:
  mutable std::mutex Lock;
  std::condition_variable Changed;
  bool Signalled = false;
#endif
};

}  // namespace kilnor::platform
