// velmor-soak OPERATIONS SEED SCRATCH: the fault soak on the emulated
// recorder of $VELMOR_EMULATOR_DIR, its work files in SCRATCH. Prints the
// tallies; exits 1 when an outcome was misreported, data was lost, the
// component stayed busy or threads, descriptors or memory were left behind.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Resources.h"
#include "Soak.h"
#include "engine/platform/Clock.h"

namespace {

namespace fs = std::filesystem;
using namespace kilnor;
using namespace kilnor::soak;

// Memory the allocator may keep after a warm-up without anything leaking:
// the packet cache (32 MiB by default) is allocated and freed per burn.
constexpr std::uint64_t kResidentSlackKiB = 48 * 1024;

// AddressSanitizer holds freed blocks in its quarantine (256 MiB by default),
// so resident memory grows without any leak; LeakSanitizer judges memory there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kResidentMemoryIsMeaningful = false;
#else
constexpr bool kResidentMemoryIsMeaningful = true;
#endif

void PrintTallies(const TTallies& Tallies) {
  int operations = 0;
  for (const auto& [kind, count] : Tallies.Operations) operations += count;
  std::printf("operations: %d (", operations);
  const char* separator = "";
  for (const auto& [kind, count] : Tallies.Operations) {
    std::printf("%s%s %d", separator, kind.c_str(), count);
    separator = ", ";
  }
  std::printf(")\nfaults injected: %d (%d took effect)\naborts: %d\nsucceeded and read back: %d\n",
              Tallies.FaultsArmed, Tallies.FaultsFired, Tallies.Aborts, Tallies.Succeeded);
  std::printf("failures correctly reported: %d\nmisreported: %d\nlost: %d\nleft busy: %d\n", Tallies.FailuresReported,
              Tallies.Misreported, Tallies.Lost, Tallies.NotIdle);
  for (const std::string& finding : Tallies.Findings) std::printf("  %s\n", finding.c_str());
}

// Threads and descriptors must come back to the warm-up's counts exactly.
bool Leaked(const TResources& Start, const TResources& End) {
  return End.Threads > Start.Threads || End.Descriptors > Start.Descriptors ||
         (kResidentMemoryIsMeaningful && End.ResidentKiB > Start.ResidentKiB + kResidentSlackKiB);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || std::getenv("VELMOR_EMULATOR_DIR") == nullptr) {
    std::fprintf(stderr, "usage: VELMOR_EMULATOR_DIR=DIR velmor-soak OPERATIONS SEED SCRATCH\n");
    return 2;
  }
  const int operations = std::atoi(argv[1]);
  const auto seed = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
  std::printf("seed: %u\n", seed);
  std::fflush(stdout);

  // The drive's 5 s and 100 ms polls cost nothing.
  TFakeClock clock;
  TClockOverride useClock(clock);
  TSoak soak(argv[3], fs::read_symlink("/proc/self/exe").parent_path(), seed);
  if (std::string error; !soak.Open(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  const int warmUp = std::min(10, std::max(1, operations / 5));
  TResources start;
  TResources peak;
  for (int i = 0; i < operations; ++i) {
    soak.RunOperation(i);
    const TResources now = CurrentResources();
    if (i + 1 == warmUp) start = peak = now;
    if (i + 1 > warmUp) peak = {std::max(peak.Threads, now.Threads), std::max(peak.Descriptors, now.Descriptors),
                                std::max(peak.ResidentKiB, now.ResidentKiB)};
  }
  const TResources end = CurrentResources();
  PrintTallies(soak.Tallies());
  std::printf("after the warm-up (%d operations): %s\nat the end: %s\nhighest between: %s\n", warmUp,
              Describe(start).c_str(), Describe(end).c_str(), Describe(peak).c_str());
  const bool leaked = Leaked(start, end);
  if (leaked) std::printf("resources left behind (resident memory may grow %llu KiB)\n",
                          static_cast<unsigned long long>(kResidentSlackKiB));
  const TTallies& tallies = soak.Tallies();
  return tallies.Misreported == 0 && tallies.Lost == 0 && tallies.NotIdle == 0 && !leaked ? 0 : 1;
}
