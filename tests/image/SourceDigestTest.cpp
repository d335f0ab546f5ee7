#include "engine/image/SourceDigest.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "engine/image/Tree.h"
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
  SetSourcePath(entry, folder.WidePath("source"));
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
  entry.Extras.edit().mfcbFunction = [&](void*, pFileEntry, std::uint32_t position, void* to, std::uint32_t& size) {
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
  SetSourcePath(entry, folder.WidePath("source"));
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

struct TComparisonCase {
  const char* name;
  const char* first;   // content of the first source; null: no file
  const char* second;  // content of the second source; null: no file
  std::int64_t fileSize;
  bool same;
};

// Pieces of 4 bytes: a difference in the last piece must be found too.
const TComparisonCase kComparisonCases[] = {
    {"SameBytes", "abcdefghij", "abcdefghij", 10, true},
    {"LastByteDiffers", "abcdefghij", "abcdefghiJ", 10, false},
    {"SecondMissing", "abcdefghij", nullptr, 10, false},
    {"SecondShorter", "abcdefghij", "abcdefgh", 10, false},
};

class SameSourceDataTest : public testing::TestWithParam<TComparisonCase> {};

TEST_P(SameSourceDataTest, OnlyEqualBytesOverTheWholeSizeAreTheSame) {
  TempFolder folder;
  TFileEntry first;
  TFileEntry second;
  for (auto [entry, name, content] : {std::tuple{&first, "first", GetParam().first},
                                      std::tuple{&second, "second", GetParam().second}}) {
    if (content != nullptr) folder.MakeFile(name, content);
    SetSourcePath(*entry, folder.WidePath(name));
    entry->FileSize = GetParam().fileSize;
  }
  std::vector<std::uint8_t> bufferA(4);
  std::vector<std::uint8_t> bufferB(4);
  const std::atomic<bool> aborted{false};
  EXPECT_EQ(SameSourceData(first, second, bufferA, bufferB, aborted), GetParam().same);
}

INSTANTIATE_TEST_SUITE_P(Sources, SameSourceDataTest, testing::ValuesIn(kComparisonCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SameSourceDataOfCallbackTest, AMemoryFileEqualsAFileOfItsBytes) {
  TempFolder folder;
  TFileEntry file;
  SetSourcePath(file, folder.WidePath("source"));
  folder.MakeFile("source", "abc");
  file.FileSize = 3;
  TFileEntry memory;
  memory.FileSize = 3;
  memory.Extras.edit().mfcbFunction = [](void*, pFileEntry, std::uint32_t position, void* to, std::uint32_t& size) {
    size = std::min<std::uint32_t>(size, 3 - position);
    std::memcpy(to, "abc" + position, size);
  };
  std::vector<std::uint8_t> bufferA(2048);
  std::vector<std::uint8_t> bufferB(2048);
  std::atomic<bool> aborted{false};
  EXPECT_TRUE(SameSourceData(file, memory, bufferA, bufferB, aborted));
  aborted = true;
  EXPECT_FALSE(SameSourceData(file, memory, bufferA, bufferB, aborted)) << "an abort proves nothing alike";
}

}  // namespace
}  // namespace kilnor
