#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "engine/KilnorPro.h"
#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"

namespace kilnor {

namespace {

namespace fs = std::filesystem;

// A source folder: readme.txt (5 bytes), skip.txt, Docs/notes.txt.
class ComponentCompilation : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    source_ = fs::temp_directory_path() / (std::string("velmor-compilation-") + info->name() + "-" +
                                           std::to_string(std::random_device()()));
    fs::remove_all(source_);
    Write("readme.txt", "hello");
    Write("skip.txt", "");
    Write("Docs/notes.txt", "notes");
    kp.ClearAll();
  }
  void TearDown() override { fs::remove_all(source_); }

  void Write(const std::string& name, const std::string& content) {
    fs::create_directories((source_ / name).parent_path());
    std::ofstream(source_ / name, std::ios::binary) << content;
  }
  std::string Source(const std::string& name) const { return (source_ / name).string(); }

  fs::path source_;
  TKilnorPro kp;
};

}  // namespace

TEST(ComponentCompilationStart, InsertsFailBeforeTheFirstClearAll) {
  TKilnorPro kp;
  EXPECT_EQ(kp.CreateDir("\\", "Docs"), nullptr);
  EXPECT_EQ(kp.FilesCount(), 0u);
  EXPECT_EQ(kp.DirsCount(), 0u);
}

TEST_F(ComponentCompilation, PerFileQueriesReadTheEntry) {
  ASSERT_NE(kp.InsertFile("\\", Source("readme.txt")), nullptr);
  ASSERT_EQ(kp.FilesCount(), 1u);
  EXPECT_EQ(kp.FileCount(), 1u);
  EXPECT_EQ(kp.FileName(0), u"readme.txt");
  EXPECT_EQ(kp.ShortFileName(0), "README.TXT");
  EXPECT_EQ(kp.FileSize(0), 5);
  EXPECT_EQ(kp.SourcePath(0), Utf8ToUtf16(Source("readme.txt")));
  EXPECT_EQ(kp.DestinationPath(0), u"");
  EXPECT_FALSE(kp.IsDirectory(0));
  EXPECT_EQ(kp.FileAddress(0), 0);
  EXPECT_EQ(kp.FindFile("\\", "README.TXT"), 0);
  EXPECT_EQ(kp.FindFile("\\", "missing.txt"), -1);
  EXPECT_EQ(kp.FindFile("\\NoSuchDir", "readme.txt"), -1);
}

TEST_F(ComponentCompilation, FileAddressIsSixtyFourBits) {
  ASSERT_NE(kp.InsertFile("\\", Source("readme.txt")), nullptr);
  kp.CDFiles.Files[0]->Address = 3000000;
  EXPECT_EQ(kp.FileAddress(0), 6144000000LL);
  kp.CDFiles.Files[0]->Address = 0xFFFFFFFF;
  EXPECT_EQ(kp.FileAddress(0), 0xFFFFFFFFLL * 2048);
}

TEST_F(ComponentCompilation, QueriesOutsideTheTablesGiveNothing) {
  ASSERT_NE(kp.InsertFile("\\", Source("readme.txt")), nullptr);
  const std::int32_t count = static_cast<std::int32_t>(kp.FilesCount());
  for (const std::int32_t id : {count, count + 1, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(kp.FileName(id), u"") << id;
    EXPECT_EQ(kp.SourcePath(id), u"") << id;
    EXPECT_EQ(kp.ShortFileName(id), "") << id;
    EXPECT_EQ(kp.FileSize(id), -1) << id;
    EXPECT_EQ(kp.FileAddress(id), -1) << id;
    EXPECT_FALSE(kp.IsDirectory(id)) << id;
  }
  const std::int32_t dirs = static_cast<std::int32_t>(kp.DirsCount());
  for (const std::int32_t id : {dirs, -1, INT32_MAX}) EXPECT_EQ(kp.DirName(id), u"") << id;
}

TEST_F(ComponentCompilation, DirectoriesAndFolders) {
  ASSERT_NE(kp.CreateDir("\\", "Archive"), nullptr);
  ASSERT_NE(kp.InsertDir("\\Archive", source_.string(), "*.*", true, false), nullptr);
  EXPECT_EQ(kp.DirsCount(), 3u);  // root, Archive, Docs
  EXPECT_EQ(kp.DirCount(), 3u);
  EXPECT_EQ(kp.DirName(0), u"");
  EXPECT_EQ(kp.DirName(1), u"Archive");
  EXPECT_EQ(kp.DirName(2), u"Docs");
  EXPECT_TRUE(kp.IsDirectory(0));
  const std::int64_t docs = kp.FindFile("\\Archive", "docs");
  ASSERT_GE(docs, 0);
  EXPECT_TRUE(kp.IsDirectory(static_cast<std::int32_t>(docs)));
  EXPECT_GE(kp.FindFile("\\Archive\\Docs", "notes.txt"), 0);
  EXPECT_GE(kp.FindFile("\\Archive", "readme.txt"), 0);
}

TEST_F(ComponentCompilation, EveryInsertCopiesTheCurrentAddFileHandler) {
  std::vector<std::string> seenByFirst;
  std::vector<std::string> seenBySecond;
  auto recordInto = [](std::vector<std::string>& seen) {
    return [&seen](void*, const char16_t*, TWin32FindDataW& fd, bool& Skip) {
      const std::string name = Utf16ToUtf8(fd.cFileName);
      seen.push_back(name);
      Skip = name == "skip.txt";
    };
  };
  kp.SetOnAddFile(recordInto(seenByFirst));
  ASSERT_NE(kp.InsertFile("\\", Source("readme.txt")), nullptr);
  EXPECT_EQ(kp.InsertFile("\\", Source("skip.txt")), kSkippedEntry);

  kp.SetOnAddFile(recordInto(seenBySecond));
  ASSERT_NE(kp.CreateDir("\\", "Made"), nullptr);  // uses the copy of the last insert
  EXPECT_EQ(seenByFirst, (std::vector<std::string>{"readme.txt", "skip.txt", "Made"}));

  ASSERT_NE(kp.InsertFileW(u"\\Made", Utf8ToUtf16(Source("readme.txt"))), nullptr);
  EXPECT_EQ(seenBySecond, std::vector<std::string>{"readme.txt"});
  EXPECT_EQ(kp.FilesCount(), 3u);
}

}  // namespace kilnor
