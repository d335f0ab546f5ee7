#pragma once
// The engine's clock and sleeper. Workers that wait for a drive or for the
// packet cache poll with short sleeps (2 to 100 ms, 5 s while a drive is not
// ready); they read the time and sleep through Clock() so that tests can put
// a fake clock in place and run those waits instantly.
//
// Use:   Clock().sleep_for(std::chrono::seconds(5));
//        auto started = Clock().now();
// Tests: TFakeClock fake; TClockOverride use(fake);   // for the test's scope
#include <atomic>
#include <chrono>

namespace kilnor {

class TClock {
 public:
  using duration = std::chrono::steady_clock::duration;
  using time_point = std::chrono::steady_clock::time_point;

  virtual ~TClock() = default;
  // Monotonic time; only differences between two readings mean anything.
  virtual time_point now() = 0;
  virtual void sleep_for(duration d) = 0;
};

// The steady clock and a real sleep of the calling thread.
class TRealClock final : public TClock {
 public:
  time_point now() override;
  void sleep_for(duration d) override;
};

// A clock for tests: sleep_for returns at once after advancing the fake time
// by the requested amount, so a poll of 5 s costs nothing. It yields the
// processor on every sleep so that the thread a poller waits for still runs.
// Safe to use from several threads at once.
class TFakeClock final : public TClock {
 public:
  time_point now() override;
  void sleep_for(duration d) override;
  // Moves the fake time forward without sleeping.
  void advance(duration d);
  // Total time slept or advanced since construction.
  duration elapsed() const;

 private:
  std::atomic<duration::rep> ticks_{0};
};

// The clock every worker uses: the real clock unless a test overrides it.
TClock& Clock();

// Installs a clock for the lifetime of this object and restores the previous
// one afterwards. Install it before any worker starts and keep it alive until
// every worker that may use it has been joined.
class TClockOverride {
 public:
  explicit TClockOverride(TClock& clock);
  ~TClockOverride();
  TClockOverride(const TClockOverride&) = delete;
  TClockOverride& operator=(const TClockOverride&) = delete;

 private:
  TClock* previous_;
};

}  // namespace kilnor
