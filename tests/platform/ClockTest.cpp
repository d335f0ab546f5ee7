#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "engine/platform/Clock.h"

using namespace std::chrono_literals;

namespace kilnor {

TEST(Clock, FakeSleepsReturnAtOnceAndAdvanceTime) {
  TFakeClock fake;
  TClockOverride use(fake);
  const auto started = Clock().now();
  const auto realStart = std::chrono::steady_clock::now();
  for (int poll = 0; poll < 12; ++poll) Clock().sleep_for(5s);
  EXPECT_EQ(Clock().now() - started, 60s);
  EXPECT_LT(std::chrono::steady_clock::now() - realStart, 1s);
}

TEST(Clock, FakeTimeAddsUpAcrossThreads) {
  TFakeClock fake;
  TClockOverride use(fake);
  std::jthread other([] {
    for (int i = 0; i < 100; ++i) Clock().sleep_for(100ms);
  });
  for (int i = 0; i < 100; ++i) Clock().sleep_for(2ms);
  other.join();
  EXPECT_EQ(fake.elapsed(), 10s + 200ms);
}

TEST(Clock, OverrideRestoresThePreviousClock) {
  TClock& real = Clock();
  TFakeClock outer;
  TFakeClock inner;
  {
    TClockOverride useOuter(outer);
    {
      TClockOverride useInner(inner);
      EXPECT_EQ(&Clock(), &inner);
    }
    EXPECT_EQ(&Clock(), &outer);
  }
  EXPECT_EQ(&Clock(), &real);
}

TEST(Clock, RealSleepWaitsAtLeastTheRequestedTime) {
  const auto started = Clock().now();
  Clock().sleep_for(20ms);
  EXPECT_GE(Clock().now() - started, 20ms);
}

}  // namespace kilnor
