#pragma once
// A message queue that stands in for a hidden window: worker threads post
// (message, wParam, lParam) triples, and the thread that owns the queue takes
// them out in posting order. A GUI loop learns that something was posted
// through a wake callback (called on the posting thread; e.g. queue a call
// onto the GUI thread) or a pollable descriptor; a command-line loop blocks in
// WaitFor.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <condition_variable>

namespace kilnor {

struct TNotification {
  std::uint32_t Message = 0;
  std::uintptr_t wParam = 0;
  std::intptr_t lParam = 0;
};

class TNotificationQueue {
 public:
  TNotificationQueue();
  ~TNotificationQueue();
  TNotificationQueue(const TNotificationQueue&) = delete;
  TNotificationQueue& operator=(const TNotificationQueue&) = delete;

  // Any thread. Queues the message, then wakes the owner.
  void Post(std::uint32_t Message, std::uintptr_t wParam, std::intptr_t lParam);

  // Owner thread. Hands every message posted so far to deliver, oldest first,
  // without holding the queue's lock, so deliver may post or start workers.
  // Returns the number of messages delivered.
  std::size_t Drain(const std::function<void(const TNotification&)>& deliver);

  // Blocks until a message is pending or the timeout passes; true when one is.
  bool WaitFor(std::chrono::milliseconds timeout);
  bool Pending() const;

  // Called after every Post on the posting thread; it must not block and must
  // not call into the queue's owner directly. An empty function removes it;
  // a Post already under way may still call the old one, so whatever it
  // refers to must outlive the workers (the component joins them first).
  void SetWakeCallback(std::function<void()> wake);

  // A descriptor that polls readable while messages are pending (an eventfd);
  // -1 where the platform has none.
  int WakeFd() const { return wake_fd_; }

#ifdef _WIN32
  // The hidden message-only window that every Post also reaches with the
  // message and its arguments, as worker threads post to a window. It
  // belongs to the thread that constructed the queue: that thread's message
  // loop runs the window's procedure, which calls drain (the owner's
  // Drain) for the notification messages; the queue stays the one record of
  // what was posted, so a message the loop sees late delivers nothing twice.
  [[nodiscard]] void* Window() const { return window_; }
  void SetWindowDrain(std::function<void()> drain);
  // Called by the window's procedure for a notification message.
  void DrainFromWindow();
#endif

 private:
  mutable std::mutex lock_;
  std::condition_variable posted_;
  std::deque<TNotification> messages_;
  std::function<void()> wake_;
  int wake_fd_ = -1;
#ifdef _WIN32
  void* window_ = nullptr;
  std::function<void()> windowDrain_;
#endif
};

}  // namespace kilnor
