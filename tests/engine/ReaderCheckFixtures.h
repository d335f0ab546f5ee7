#pragma once
// Test fixture: the source trees the reader checks build images from, the
// build itself through the component, a snapshot of a tree to compare what
// readers extract with its source, and the checks of the ISO 9660 and Joliet
// readers every image must pass.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "engine/KilnorPro.h"

namespace kilnor::test {

void WriteFile(const std::filesystem::path& path, const std::string& content);
// Bytes that differ from file to file (by seed) and from offset to offset.
[[nodiscard]] std::string Pattern(std::size_t bytes, unsigned seed);

struct TTreeCase {
  const char* Name;
  void (*Populate)(const std::filesystem::path&);
  // Names outside the Basic Multilingual Plane are recorded as UTF-16
  // surrogate pairs, which UCS-2 readers flag: xorriso warns (and still
  // extracts them exactly), libcdio cannot convert them.
  bool NonBmp = false;
};

// Every fixture tree, for a check parameterized over them.
[[nodiscard]] const std::vector<TTreeCase>& FixtureTrees();
// Eight folders, one inside the other, with a file at each level.
void NestedEightDeep(const std::filesystem::path& src);

// Waits for the completion the write thread reports.
class TWriteWaiter {
 public:
  explicit TWriteWaiter(TKilnorPro& kp);
  [[nodiscard]] bool Succeeded();

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  bool failed_ = false;
};

// Inserts the content of `src` at the root and builds the image through the
// component, as the command line does, with the file systems `kp` is set to.
[[nodiscard]] ::testing::AssertionResult BuildImage(TKilnorPro& kp, const std::filesystem::path& src,
                                                    const std::filesystem::path& image, const char* label);

// Relative path -> content ("/" for a directory) of every item below root;
// empty when root does not exist.
[[nodiscard]] std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

// osirrox extracts the whole image (Joliet names) below `scratch`: the result
// must be the source tree byte for byte. A medium holding several sessions is
// read at the session starting at sector `session`.
void ExpectExtractedTreeIs(const std::filesystem::path& image, const std::filesystem::path& src,
                           const std::filesystem::path& scratch, std::uint32_t session = 0);

// xorriso's complaints, less those about surrogate pairs when allowed.
[[nodiscard]] std::string XorrisoComplaints(const std::string& output, bool nonBmp);

// xorriso lists and checks the image without complaint, and isoinfo, iso-info
// and 7z, where installed, open it cleanly and see `volumeId` and Joliet.
void ExpectToolsOpenIt(const std::filesystem::path& image, const std::string& volumeId, bool nonBmp);

}  // namespace kilnor::test
