#include "Resources.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace kilnor::soak {

namespace fs = std::filesystem;

namespace {

int EntriesIn(const fs::path& Folder) {
  std::error_code error;
  fs::directory_iterator entries(Folder, error);
  if (error) return -1;
  return static_cast<int>(std::distance(entries, fs::directory_iterator()));
}

std::uint64_t ResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6));
  return 0;
}

}  // namespace

TResources CurrentResources() {
  // The directory listing itself holds one descriptor while it is read.
  return {EntriesIn("/proc/self/task"), EntriesIn("/proc/self/fd") - 1, ResidentKiB()};
}

std::string Describe(const TResources& Counts) {
  return std::to_string(Counts.Threads) + " threads, " + std::to_string(Counts.Descriptors) + " descriptors, " +
         std::to_string(Counts.ResidentKiB) + " KiB resident";
}

}  // namespace kilnor::soak
