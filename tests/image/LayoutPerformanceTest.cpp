// Prepare of a large compilation: 200,000 entries in 20,000 folders. A
// measurement, not a timed test: run it on demand with
//   image_tests --gtest_also_run_disabled_tests --gtest_filter='*LargeCompilation*'
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "LayoutFixture.h"
#include "engine/image/ISO9660.h"

namespace kilnor::test {
namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

TEST(LayoutPerformance, DISABLED_LargeCompilation) {
  TCompilation c;
  const std::u16string stem = u"Holiday picture number ";
  for (int d = 0; d < 20000; ++d) {
    const std::string folder = "Folder " + std::to_string(d);
    pDirEntry dir = c.AddDir(c.root(), std::u16string(folder.begin(), folder.end()));
    for (int f = 0; f < 9; ++f) {
      const std::string n = std::to_string(d * 10 + f);
      c.AddFile(dir, stem + std::u16string(n.begin(), n.end()) + u".jpg", 1000 + f * 4096);
    }
  }
  const long treeRss = PeakRssMiB();
  const auto started = std::chrono::steady_clock::now();
  const std::uint32_t sectors = Prepare(c.cd);
  const double prepare = Seconds(started);
  const long prepareRss = PeakRssMiB();
  const auto generating = std::chrono::steady_clock::now();
  ASSERT_TRUE(GenerateHeader(c.cd));
  const double header = Seconds(generating);
  std::printf("Prepare of %zu entries in %zu folders: %.3f s; GenerateHeader: %.3f s (%lld MiB); "
              "%u sectors; peak RSS %ld MiB with the tree, %ld after Prepare, %ld after the header\n",
              c.cd.Files.size(), c.cd.Dirs.size(), prepare, header,
              static_cast<long long>(c.cd.IsoHeaderSize >> 20), sectors, treeRss, prepareRss, PeakRssMiB());
}

}  // namespace
}  // namespace kilnor::test
