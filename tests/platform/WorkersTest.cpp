#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "engine/platform/Workers.h"

using namespace std::chrono_literals;

namespace kilnor {

namespace {

// A worker that runs until it is asked to stop, as a drive wait would.
void WaitForStop(std::stop_token stop, std::atomic<int>& ended) {
  while (!stop.stop_requested()) std::this_thread::sleep_for(1ms);
  ++ended;
}

}  // namespace

TEST(Workers, StopAndJoinAllWaitsForEveryWorker) {
  std::atomic<int> ended{0};
  TWorkerRegistry workers;
  for (int i = 0; i < 3; ++i) workers.Start([&](std::stop_token stop) { WaitForStop(stop, ended); });
  EXPECT_EQ(workers.Running(), 3u);
  workers.StopAndJoinAll();
  EXPECT_EQ(ended, 3);
  EXPECT_EQ(workers.Running(), 0u);
}

TEST(Workers, AWorkerStartedByAWorkerDuringShutdownIsJoinedToo) {
  std::atomic<int> ended{0};
  {
    TWorkerRegistry workers;
    workers.Start([&](std::stop_token stop) {
      WaitForStop(stop, ended);
      workers.Start([&](std::stop_token next) { WaitForStop(next, ended); });
    });
  }
  EXPECT_EQ(ended, 2);
}

TEST(Workers, EndedWorkersAreNotCountedAsRunning) {
  TWorkerRegistry workers;
  std::atomic<bool> done{false};
  workers.Start([&](std::stop_token) { done = true; });
  while (!done) std::this_thread::sleep_for(1ms);
  for (int i = 0; i < 1000 && workers.Running() != 0; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(workers.Running(), 0u);
}

}  // namespace kilnor
