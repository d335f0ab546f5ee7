#include "engine/platform/NotificationQueue.h"

#ifdef __linux__
#include <sys/eventfd.h>
#include <unistd.h>
#endif

namespace kilnor {

namespace {

void SignalFd([[maybe_unused]] int fd) {
#ifdef __linux__
  if (fd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(fd, &one, sizeof one);
  }
#endif
}

void ClearFd([[maybe_unused]] int fd) {
#ifdef __linux__
  if (fd >= 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(fd, &count, sizeof count);
  }
#endif
}

}  // namespace

TNotificationQueue::TNotificationQueue() {
#ifdef __linux__
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
}

TNotificationQueue::~TNotificationQueue() {
#ifdef __linux__
  if (wake_fd_ >= 0) ::close(wake_fd_);
#endif
}

void TNotificationQueue::Post(std::uint32_t Message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::function<void()> wake;
  {
    std::lock_guard guard(lock_);
    messages_.push_back({Message, wParam, lParam});
    SignalFd(wake_fd_);
    wake = wake_;
  }
  posted_.notify_all();
  if (wake) wake();
}

std::size_t TNotificationQueue::Drain(const std::function<void(const TNotification&)>& deliver) {
  std::deque<TNotification> taken;
  {
    std::lock_guard guard(lock_);
    taken.swap(messages_);
    ClearFd(wake_fd_);
  }
  for (const auto& message : taken) deliver(message);
  return taken.size();
}

bool TNotificationQueue::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock guard(lock_);
  return posted_.wait_for(guard, timeout, [this] { return !messages_.empty(); });
}

bool TNotificationQueue::Pending() const {
  std::lock_guard guard(lock_);
  return !messages_.empty();
}

void TNotificationQueue::SetWakeCallback(std::function<void()> wake) {
  std::lock_guard guard(lock_);
  wake_ = std::move(wake);
}

}  // namespace kilnor
