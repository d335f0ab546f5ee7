// The manual-reset event that completes ASPI requests.
#include <gtest/gtest.h>

#include <thread>

#include "engine/platform/Event.h"

namespace kilnor {
namespace {

using namespace std::chrono_literals;

TEST(TransportEvent, StaysSetForEveryWaiterUntilReset) {
  platform::TEvent event;
  EXPECT_FALSE(event.WaitFor(1ms));
  event.Set();
  EXPECT_TRUE(event.WaitFor(0ms));
  EXPECT_TRUE(event.WaitFor(0ms)) << "a second waiter passes too";
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(1ms));
}

TEST(TransportEvent, SetOnAnotherThreadWakesTheWaiter) {
  platform::TEvent event;
  std::thread signaller([&event] {
    std::this_thread::sleep_for(5ms);
    event.Set();
  });
  event.Wait();
  EXPECT_TRUE(event.IsSet());
  signaller.join();
}

}  // namespace
}  // namespace kilnor
