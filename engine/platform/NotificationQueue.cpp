#include "engine/platform/NotificationQueue.h"

#ifdef __linux__
#include <sys/eventfd.h>
#include <unistd.h>
#endif
#ifdef _WIN32
#include <windows.h>

#include <mutex>
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

#ifdef _WIN32
// The completion messages the component's workers post (WM_USER + 101 to 104).
constexpr UINT kFirstNotification = WM_USER + 101;
constexpr UINT kLastNotification = WM_USER + 104;
constexpr wchar_t kWindowClass[] = L"VelmorNotificationWindow";

// Every message passes on to the default procedure, handled or not.
LRESULT CALLBACK NotificationWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* queue = reinterpret_cast<TNotificationQueue*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (queue && message >= kFirstNotification && message <= kLastNotification) queue->DrainFromWindow();
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND CreateNotificationWindow(TNotificationQueue* queue) {
  static std::once_flag registered;
  std::call_once(registered, [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = NotificationWindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassExW(&windowClass);
  });
  HWND window = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  if (window) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(queue));
  return window;
}
#endif

}  // namespace

TNotificationQueue::TNotificationQueue() {
#ifdef __linux__
  wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
#endif
#ifdef _WIN32
  window_ = CreateNotificationWindow(this);
#endif
}

TNotificationQueue::~TNotificationQueue() {
#ifdef __linux__
  if (wake_fd_ >= 0) ::close(wake_fd_);
#endif
#ifdef _WIN32
  if (window_) DestroyWindow(static_cast<HWND>(window_));
#endif
}

#ifdef _WIN32
void TNotificationQueue::DrainFromWindow() {
  std::function<void()> drain;
  {
    std::lock_guard guard(lock_);
    drain = windowDrain_;
  }
  if (drain) drain();
}

void TNotificationQueue::SetWindowDrain(std::function<void()> drain) {
  std::lock_guard guard(lock_);
  windowDrain_ = std::move(drain);
}
#endif

void TNotificationQueue::Post(std::uint32_t Message, std::uintptr_t wParam, std::intptr_t lParam) {
  std::function<void()> wake;
  {
    std::lock_guard guard(lock_);
    messages_.push_back({Message, wParam, lParam});
    SignalFd(wake_fd_);
    wake = wake_;
  }
  posted_.notify_all();
#ifdef _WIN32
  if (window_) PostMessageW(static_cast<HWND>(window_), Message, wParam, lParam);
#endif
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
