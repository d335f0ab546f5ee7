#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#ifdef __linux__
#include <poll.h>
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

}  // namespace kilnor
