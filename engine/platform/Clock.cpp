#include "engine/platform/Clock.h"

#include <thread>

namespace kilnor {

namespace {

TRealClock& RealClock() {
  static TRealClock clock;
  return clock;
}

std::atomic<TClock*>& ActiveClock() {
  static std::atomic<TClock*> active{&RealClock()};
  return active;
}

}  // namespace

TClock::time_point TRealClock::now() { return std::chrono::steady_clock::now(); }

void TRealClock::sleep_for(duration d) { std::this_thread::sleep_for(d); }

TClock::time_point TFakeClock::now() { return time_point(duration(ticks_.load())); }

void TFakeClock::sleep_for(duration d) {
  advance(d);
  std::this_thread::yield();
}

void TFakeClock::advance(duration d) { ticks_.fetch_add(d.count()); }

TClock::duration TFakeClock::elapsed() const { return duration(ticks_.load()); }

TClock& Clock() { return *ActiveClock().load(); }

TClockOverride::TClockOverride(TClock& clock) : previous_(ActiveClock().exchange(&clock)) {}

TClockOverride::~TClockOverride() { ActiveClock().store(previous_); }

}  // namespace kilnor
