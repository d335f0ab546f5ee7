#pragma once
// A manual-reset event: once set it stays set, releasing every waiter, until
// it is reset.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kilnor::platform {

class TEvent {
 public:
  TEvent() = default;
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  [[nodiscard]] bool IsSet() const;
  // Blocks until the event is set.
  void Wait();
  // Blocks until the event is set or Timeout has passed; true when set.
  [[nodiscard]] bool WaitFor(std::chrono::milliseconds Timeout);

 private:
  mutable std::mutex Lock;
  std::condition_variable Changed;
  bool Signalled = false;
};

}  // namespace kilnor::platform
