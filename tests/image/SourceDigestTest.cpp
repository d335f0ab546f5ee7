#include "engine/image/SourceDigest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "fixtures/temp-folder/TempFolder.h"

namespace kilnor {
namespace {

using velmor_test::TempFolder;

// md5sum of "abc".
constexpr const char* kDigestOfAbc = "900150983CD24FB0D6963F7D28E17F72";

struct TSourceCase {
  const char* name;
  const char* content;    // written to the source file; null: no file
  std::int64_t fileSize;  // the size the entry was added with
  TDigestOutcome outcome;
};

const TSourceCase kSourceCases[] = {
    {"Complete", "abc", 3, TDigestOutcome::Complete},
    {"Missing", nullptr, 3, TDigestOutcome::Unreadable},
    {"Shrunk", "ab", 3, TDigestOutcome::SizeChanged},
    {"Grown", "abcd", 3, TDigestOutcome::SizeChanged},
};

class SourceDigestTest : public testing::TestWithParam<TSourceCase> {};

TEST_P(SourceDigestTest, OnlyTheWholeRecordedSizeGivesADigest) {
  TempFolder folder;
  if (GetParam().content != nullptr) folder.MakeFile("source", GetParam().content);
  TFileEntry entry;
  entry.Path = folder.WidePath("source");
  entry.FileSize = GetParam().fileSize;
  std::vector<std::uint8_t> buffer(2048);
  const std::atomic<bool> aborted{false};
  const TSourceDigest digest = DigestOfSource(entry, buffer, aborted, {});
  EXPECT_EQ(digest.Outcome, GetParam().outcome);
  EXPECT_EQ(digest.Digest, GetParam().outcome == TDigestOutcome::Complete ? kDigestOfAbc : "");
  if (GetParam().outcome != TDigestOutcome::Complete) {
    EXPECT_FALSE(digest.Cause.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, SourceDigestTest, testing::ValuesIn(kSourceCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SourceDigestOfCallbackTest, HashesWhatTheCallbackDeliversAndRefusesAShortDelivery) {
  TFileEntry entry;
  entry.FileSize = 3;
  std::uint32_t offered = 3;
  entry.mfcbFunction = [&](void*, pFileEntry, std::uint32_t position, void* to, std::uint32_t& size) {
    size = std::min(size, offered - position);
    std::memcpy(to, "abc" + position, size);
  };
  std::vector<std::uint8_t> buffer(2048);
  const std::atomic<bool> aborted{false};
  EXPECT_EQ(DigestOfSource(entry, buffer, aborted, {}).Digest, kDigestOfAbc);
  offered = 2;
  EXPECT_EQ(DigestOfSource(entry, buffer, aborted, {}).Outcome, TDigestOutcome::SizeChanged);
}

TEST(SourceDigestAbortTest, AnAbortLeavesNoDigestAndProgressCountsThePiecesRead) {
  TempFolder folder;
  folder.MakeFile("source", std::string(3 * 2048, 'x'));
  TFileEntry entry;
  entry.Path = folder.WidePath("source");
  entry.FileSize = 3 * 2048;
  std::vector<std::uint8_t> buffer(2048);
  std::atomic<bool> aborted{false};
  std::uint32_t sectors = 0;
  const TSourceDigest digest = DigestOfSource(entry, buffer, aborted, [&](std::uint32_t n) {
    sectors += n;
    if (sectors == 2) aborted = true;
  });
  EXPECT_EQ(digest.Outcome, TDigestOutcome::Aborted);
  EXPECT_TRUE(digest.Digest.empty());
  EXPECT_EQ(sectors, 2u);
}

}  // namespace
}  // namespace kilnor
