#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/platform/FileIO.h"
#include "fixtures/temp-folder/TempFolder.h"
#include "tests/write/WriteFixtures.h"

namespace kilnor {
namespace {

using testing::ReadFileBytes;
using testing::TScratchDir;
using testing::WriteFileBytes;

const std::vector<std::uint8_t> kOld = {'o', 'l', 'd'};
const std::vector<std::uint8_t> kNew = {'n', 'e', 'w', '!'};

std::vector<std::string> NamesIn(const std::filesystem::path& folder) {
  std::vector<std::string> names;
  for (const auto& item : std::filesystem::directory_iterator(folder)) names.push_back(item.path().filename().string());
  return names;
}

enum class TEnd { Commit, Discard, Destroy };

struct TOutputCase {
  const char* Name;
  bool TargetExists;
  TEnd End;
};

class OutputFileTest : public ::testing::TestWithParam<TOutputCase> {
 protected:
  TScratchDir scratch;
};

// Until the end, the target holds what it held before; then it holds the new
// bytes only after a commit, and no temporary file is left in either case.
TEST_P(OutputFileTest, TheTargetHoldsEitherItsOldBytesOrTheWholeNewFile) {
  const TOutputCase& c = GetParam();
  const std::string target = scratch.File("image.iso");
  if (c.TargetExists) WriteFileBytes(target, kOld);
  const std::vector<std::uint8_t> before = c.TargetExists ? kOld : std::vector<std::uint8_t>{};
  {
    TOutputFile output = TOutputFile::Open(target);
    ASSERT_TRUE(output.IsOpen()) << output.FailureCause();
    EXPECT_NE(output.WritingPath(), target);
    EXPECT_EQ(std::filesystem::path(output.WritingPath()).parent_path(), scratch.Path());
    ASSERT_TRUE(output.WriteAll(kNew.data(), kNew.size()));
    EXPECT_EQ(std::filesystem::exists(target), c.TargetExists);
    EXPECT_EQ(ReadFileBytes(target), before);
    if (c.End == TEnd::Commit) {
      ASSERT_TRUE(output.Commit()) << output.FailureCause();
    } else if (c.End == TEnd::Discard) {
      output.Discard();
    }
  }
  const bool committed = c.End == TEnd::Commit;
  EXPECT_EQ(std::filesystem::exists(target), committed || c.TargetExists);
  EXPECT_EQ(ReadFileBytes(target), committed ? kNew : before);
  const std::vector<std::string> expected = committed || c.TargetExists ? std::vector<std::string>{"image.iso"}
                                                                         : std::vector<std::string>{};
  EXPECT_EQ(NamesIn(scratch.Path()), expected);
}

INSTANTIATE_TEST_SUITE_P(Ends, OutputFileTest,
                         ::testing::Values(TOutputCase{"NewCommitted", false, TEnd::Commit},
                                           TOutputCase{"ReplacedCommitted", true, TEnd::Commit},
                                           TOutputCase{"NewDiscarded", false, TEnd::Discard},
                                           TOutputCase{"ExistingDiscarded", true, TEnd::Discard},
                                           TOutputCase{"ExistingDestroyedUnfinished", true, TEnd::Destroy}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(OutputFile, TwoWritersToOneTargetNeverShareATemporaryFile) {
  TScratchDir scratch;
  const std::string target = scratch.File("same.iso");
  TOutputFile first = TOutputFile::Open(target);
  TOutputFile second = TOutputFile::Open(target);
  ASSERT_TRUE(first.IsOpen() && second.IsOpen());
  EXPECT_NE(first.WritingPath(), second.WritingPath());
  ASSERT_TRUE(first.WriteAll(kOld.data(), kOld.size()));
  ASSERT_TRUE(second.WriteAll(kNew.data(), kNew.size()));
  ASSERT_TRUE(second.Commit());
  ASSERT_TRUE(first.Commit());
  EXPECT_EQ(ReadFileBytes(target), kOld) << "the last to finish wins, whole";
  EXPECT_EQ(NamesIn(scratch.Path()), std::vector<std::string>{"same.iso"});
}

TEST(OutputFile, ATargetThatIsALinkReplacesTheFileItLeadsTo) {
  TScratchDir scratch;
  const std::string real = scratch.File("real.iso");
  const std::string link = scratch.File("link.iso");
  WriteFileBytes(real, kOld);
  std::filesystem::create_symlink(real, link);
  TOutputFile output = TOutputFile::Open(link);
  ASSERT_TRUE(output.WriteAll(kNew.data(), kNew.size()));
  ASSERT_TRUE(output.Commit());
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFileBytes(real), kNew);
}

TEST(OutputFile, ADeviceIsWrittenDirectlyAndAFullOneSaysSo) {
  TOutputFile null = TOutputFile::Open("/dev/null");
  ASSERT_TRUE(null.IsOpen());
  EXPECT_EQ(null.WritingPath(), "/dev/null");
  EXPECT_TRUE(null.WriteAll(kNew.data(), kNew.size()));
  EXPECT_TRUE(null.Commit());

  TOutputFile full = TOutputFile::Open("/dev/full");
  ASSERT_TRUE(full.IsOpen());
  EXPECT_FALSE(full.WriteAll(kNew.data(), kNew.size()));
  EXPECT_EQ(full.FailureCause(), "No space left on device");
}

TEST(OutputFile, AFolderThatDoesNotExistIsNamedAsTheCause) {
  TScratchDir scratch;
  const TOutputFile output = TOutputFile::Open(scratch.File("missing/image.iso"));
  EXPECT_FALSE(output.IsOpen());
  EXPECT_EQ(output.FailureCause(), "the folder it goes in does not exist");
}

TEST(OutputFile, AFolderThatMayNotBeWrittenIsNamedAsTheCause) {
  velmor_test::TempFolder folder;
  const std::string locked = folder.MakeDir("locked");
  std::filesystem::permissions(locked, std::filesystem::perms(0555));
  EXPECT_TRUE(velmor_test::RunUnprivileged([&] {
    const TOutputFile output = TOutputFile::Open(locked + "/image.iso");
    return !output.IsOpen() && output.FailureCause() == "Permission denied";
  }));
}

}  // namespace
}  // namespace kilnor
