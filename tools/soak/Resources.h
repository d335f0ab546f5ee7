#pragma once
// What the process holds: threads, open descriptors and resident memory, read
// from /proc/self, so that a run can show nothing is left behind.
#include <cstdint>
#include <string>

namespace kilnor::soak {

struct TResources {
  int Threads = 0;
  int Descriptors = 0;
  std::uint64_t ResidentKiB = 0;
};

[[nodiscard]] TResources CurrentResources();
[[nodiscard]] std::string Describe(const TResources& Counts);

}  // namespace kilnor::soak
