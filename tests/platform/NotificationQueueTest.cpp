#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#ifdef __linux__
#include <poll.h>
#endif
#ifdef _WIN32
#include <windows.h>
#endif

#include "engine/platform/NotificationQueue.h"

using namespace std::chrono_literals;

namespace kilnor {

namespace {

std::vector<std::uintptr_t> DrainWParams(TNotificationQueue& queue) {
  std::vector<std::uintptr_t> seen;
  queue.Drain([&](const TNotification& message) { seen.push_back(message.wParam); });
  return seen;
}

#ifdef __linux__
bool Readable(int fd) {
  pollfd entry{fd, POLLIN, 0};
  return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN);
}
#endif

}  // namespace

TEST(NotificationQueue, DeliversInPostingOrder) {
  TNotificationQueue queue;
  std::jthread worker([&] {
    for (std::uintptr_t i = 0; i < 1000; ++i) queue.Post(1127, i, 0);
  });
  worker.join();
  const auto seen = DrainWParams(queue);
  ASSERT_EQ(seen.size(), 1000u);
  for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], i);
  EXPECT_FALSE(queue.Pending());
  EXPECT_EQ(queue.Drain([](const TNotification&) {}), 0u);
}

TEST(NotificationQueue, KeepsMessageFields) {
  TNotificationQueue queue;
  queue.Post(1125, 0, -1);
  queue.Drain([](const TNotification& message) {
    EXPECT_EQ(message.Message, 1125u);
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, -1);
  });
}

TEST(NotificationQueue, AMessagePostedWhileDeliveringWaitsForTheNextDrain) {
  TNotificationQueue queue;
  queue.Post(1, 1, 0);
  std::size_t delivered = 0;
  EXPECT_EQ(queue.Drain([&](const TNotification&) {
    ++delivered;
    queue.Post(1, 2, 0);
  }), 1u);
  EXPECT_EQ(delivered, 1u);
  EXPECT_EQ(DrainWParams(queue), std::vector<std::uintptr_t>{2});
}

TEST(NotificationQueue, WakeCallbackRunsOnThePostingThread) {
  TNotificationQueue queue;
  std::thread::id wokenOn;
  std::atomic<int> wakes{0};
  queue.SetWakeCallback([&] {
    wokenOn = std::this_thread::get_id();
    ++wakes;
  });
  std::thread::id posterId;
  std::jthread worker([&] {
    posterId = std::this_thread::get_id();
    queue.Post(1126, 0, 0);
  });
  worker.join();
  EXPECT_EQ(wakes, 1);
  EXPECT_EQ(wokenOn, posterId);
  EXPECT_TRUE(queue.Pending());

  queue.SetWakeCallback({});
  queue.Post(1126, 0, 0);
  EXPECT_EQ(wakes, 1);
}

TEST(NotificationQueue, WaitForReturnsWhenAMessageArrivesOrTimesOut) {
  TNotificationQueue queue;
  EXPECT_FALSE(queue.WaitFor(10ms));
  std::jthread worker([&] {
    std::this_thread::sleep_for(20ms);
    queue.Post(1128, 0, 0);
  });
  EXPECT_TRUE(queue.WaitFor(10s));
}

#ifdef __linux__
TEST(NotificationQueue, WakeFdIsReadableWhileMessagesArePending) {
  TNotificationQueue queue;
  ASSERT_GE(queue.WakeFd(), 0);
  EXPECT_FALSE(Readable(queue.WakeFd()));
  queue.Post(1125, 0, 0);
  queue.Post(1125, 0, 0);
  EXPECT_TRUE(Readable(queue.WakeFd()));
  EXPECT_EQ(queue.Drain([](const TNotification&) {}), 2u);
  EXPECT_FALSE(Readable(queue.WakeFd()));
}
#endif

#ifdef _WIN32
// Runs the calling thread's message loop until Done or Limit has passed.
template <typename TDone>
void PumpMessagesUntil(TDone Done, std::chrono::milliseconds Limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + Limit;
  MSG message;
  while (!Done() && std::chrono::steady_clock::now() < deadline) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    std::this_thread::sleep_for(1ms);
  }
}

TEST(NotificationQueue, OwnersMessageLoopDeliversWorkersMessagesThroughTheHiddenWindow) {
  TNotificationQueue queue;
  ASSERT_NE(queue.Window(), nullptr);
  std::vector<TNotification> delivered;
  queue.SetWindowDrain([&] { queue.Drain([&](const TNotification& message) { delivered.push_back(message); }); });
  std::thread worker([&] {
    queue.Post(1127, 3, 1);
    queue.Post(1127, 0xFFFFFFFF, 0);
    queue.Post(1126, 0, -1);
  });
  worker.join();
  PumpMessagesUntil([&] { return delivered.size() >= 3; });
  ASSERT_EQ(delivered.size(), 3u);
  EXPECT_EQ(delivered[0].Message, 1127u);
  EXPECT_EQ(delivered[0].wParam, 3u);
  EXPECT_EQ(delivered[1].wParam, 0xFFFFFFFFu);
  EXPECT_EQ(delivered[2].Message, 1126u);
  EXPECT_EQ(delivered[2].lParam, -1);
  // The window's later messages find the queue drained: nothing twice.
  PumpMessagesUntil([] { return false; }, 200ms);
  EXPECT_EQ(delivered.size(), 3u);
}

TEST(NotificationQueue, MessagesDrainedWithoutTheLoopAreNotDeliveredAgainByIt) {
  TNotificationQueue queue;
  int windowDeliveries = 0;
  queue.SetWindowDrain([&] { windowDeliveries += static_cast<int>(queue.Drain([](const TNotification&) {})); });
  queue.Post(1125, 0, 0);
  EXPECT_EQ(DrainWParams(queue).size(), 1u);
  PumpMessagesUntil([] { return false; }, 200ms);
  EXPECT_EQ(windowDeliveries, 0);
}
#endif

}  // namespace kilnor
