// Prepare of a large compilation: 200,000 entries in 20,000 folders, with
// and without Rock Ridge (each file with POSIX attributes of its own). A
// measurement, not a timed test: run it on demand with
//   image_tests --gtest_also_run_disabled_tests --gtest_filter='*LargeCompilation*'
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

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

void MeasureLargeCompilation(bool rockRidge) {
  TCompilation c;
  c.cd.RockRidge = rockRidge;
  const std::u16string stem = u"Holiday picture number ";
  for (int d = 0; d < 20000; ++d) {
    const std::string folder = "Folder " + std::to_string(d);
    pDirEntry dir = c.AddDir(c.root(), std::u16string(folder.begin(), folder.end()));
    for (int f = 0; f < 9; ++f) {
      const std::string n = std::to_string(d * 10 + f);
      pFileEntry file = c.AddFile(dir, stem + std::u16string(n.begin(), n.end()) + u".jpg", 1000 + f * 4096);
      TPosixAttributes posix;
      posix.Mode = 0100644;
      posix.Uid = posix.Gid = 1000;
      posix.Modify = posix.Access = posix.Change = {1600000000 + d, 0};
      file->Posix = TPosixAttributesPtr(std::move(posix));
    }
  }
  const long treeRss = PeakRssMiB();
  const auto started = std::chrono::steady_clock::now();
  const std::uint32_t sectors = Prepare(c.cd);
  const double prepare = Seconds(started);
  const long prepareRss = PeakRssMiB();
  const auto generating = std::chrono::steady_clock::now();
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderGenerator generator(c.cd);
  std::vector<std::uint8_t> chunk(std::size_t{512} * 2048);
  for (std::uint64_t left = std::uint64_t{c.cd.HeaderSectors} * 2048; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), left));
    ASSERT_TRUE(generator.Generate(std::span(chunk).first(n)));
    left -= n;
  }
  const double header = Seconds(generating);
  std::printf("%s: Prepare of %zu entries in %zu folders: %.3f s; header streamed in %.3f s (%lld MiB); "
              "%u sectors; peak RSS %ld MiB with the tree, %ld after Prepare, %ld after the header; "
              "an entry takes %zu bytes\n",
              rockRidge ? "Rock Ridge" : "No Rock Ridge", c.cd.Files.size(), c.cd.Dirs.size(), prepare, header,
              static_cast<long long>(c.cd.IsoHeaderSize >> 20), sectors, treeRss, prepareRss, PeakRssMiB(),
              sizeof(TFileEntry));
}

TEST(LayoutPerformance, DISABLED_LargeCompilation) {
  MeasureLargeCompilation(false);
  MeasureLargeCompilation(true);
}

}  // namespace
}  // namespace kilnor::test
