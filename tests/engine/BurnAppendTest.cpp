// A second session appended through the component: the earlier session is
// imported, the new one records only the new data and shows the files of
// both, read back by xorriso at the sessions' starts on the exported medium.
#include <gtest/gtest.h>

#include <regex>

#include "BurnFixtures.h"
#include "engine/device/Media.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

struct TAppendCase {
  const char* Kind;  // velmor-emulator's name
  const char* Name;
  bool Overwritable;  // the volume grows in place: one session, read at sector 0
};

// The sector xorriso reports for a file's data in the session at `session`;
// -1 when it reports none.
long DataSector(const fs::path& image, std::uint32_t session, const std::string& path) {
  const TCommandResult report = RunTool("xorriso -load sbsector " + std::to_string(session) + " -indev " +
                                        Quoted(image) + " -find " + path + " -exec report_lba");
  std::smatch found;
  static const std::regex line(R"(File data lba:\s*\d+\s*,\s*(\d+)\s*,)");
  if (std::regex_search(report.Output, found, line)) return std::stol(found[1].str());
  ADD_FAILURE() << "no data sector of " << path << ":\n" << report.Output;
  return -1;
}

class BurnAppend : public BurnTest, public testing::WithParamInterface<TAppendCase> {
 protected:
  // The second compilation: new files, a new one in a folder of the first
  // session, and a replacement of one of its files.
  void SecondTree(const fs::path& Src) {
    WriteFile(Src / "new.txt", "added by the second session\n");
    WriteFile(Src / "data" / "added.bin", Pattern(5000, 7));
    WriteFile(Src / "readme.txt", "replaced by the second session\n");
  }

  [[nodiscard]] testing::AssertionResult Append(const fs::path& Src) {
    kp.ClearAll();
    kp.SetVolumeID(kBurnLabel);
    if (kp.InsertDirW(u"\\", Src.u16string(), u"*", true, false) == nullptr)
      return testing::AssertionFailure() << "insert failed";
    if (kp.ImportSession(0, "\\") < 1) return testing::AssertionFailure() << kp.LastImport().Reason;
    if (kp.Prepare() == 0) return testing::AssertionFailure() << "prepare failed";
    if (!Run([this] { return kp.Burn(); }) || WriteFailed) return testing::AssertionFailure() << Error;
    return testing::AssertionSuccess();
  }
};

TEST_P(BurnAppend, TheLastSessionShowsTheFilesOfBoth) {
  InsertMedium(GetParam().Kind);
  const fs::path first = scratch.path() / "first";
  const fs::path second = scratch.path() / "second";
  const fs::path both = scratch.path() / "both";
  SmallTree(first);
  SecondTree(second);
  fs::copy(first, both, fs::copy_options::recursive);
  fs::copy(second, both, fs::copy_options::recursive | fs::copy_options::overwrite_existing);

  ASSERT_TRUE(Burn(first));
  const std::uint32_t firstSession = kp.ImageSize();
  ASSERT_TRUE(Append(second));

  const std::vector<TSessionExtent> sessions = RecordedSessions(kp.Device);
  ASSERT_EQ(sessions.size(), GetParam().Overwritable ? 1u : 2u);
  const fs::path image = Export("medium.iso");
  ExpectExtractedTreeIs(image, both, scratch.path(), sessions.back().Start);
  if (!GetParam().Overwritable) {
    // The first session still reads as it was burned.
    EXPECT_EQ(sessions.front().Start, 0u);
    ExpectExtractedTreeIs(image, first, scratch.path(), 0);
    EXPECT_GE(sessions.back().Start, firstSession);
  }
  // Imported files keep their data where the first session recorded it.
  const std::uint32_t firstStart = sessions.front().Start;
  const long recorded = DataSector(image, firstStart, "/data/deeper/100000.bin");
  EXPECT_EQ(DataSector(image, sessions.back().Start, "/data/deeper/100000.bin"), recorded);
  EXPECT_GE(recorded, 0);
  EXPECT_LT(recorded, static_cast<long>(firstSession));
}

INSTANTIATE_TEST_SUITE_P(Media, BurnAppend,
                         testing::Values(TAppendCase{"cd-r", "CDR", false}, TAppendCase{"dvd+r", "DVDPlusR", false},
                                         TAppendCase{"bd-r", "BDR", false}, TAppendCase{"dvd+rw", "DVDPlusRW", true},
                                         TAppendCase{"bd-re", "BDRE", true}),
                         TNamedCase());

// The POSIX side of the first session (an executable, a link) is imported
// with it, so the appended session records it again as the Linux kernel and
// xorriso read it.
TEST_F(BurnTest, AnAppendedSessionKeepsTheRockRidgeDataOfTheFirst) {
  InsertMedium("cd-r");
  const fs::path first = scratch.path() / "first";
  WriteFile(first / "tools" / "run.sh", "#!/bin/sh\n");
  fs::permissions(first / "tools" / "run.sh", fs::perms(0755));
  fs::create_symlink("run.sh", first / "tools" / "link");
  ASSERT_TRUE(Burn(first));

  kp.ClearAll();
  const fs::path second = scratch.path() / "second";
  WriteFile(second / "new.txt", "added by the second session\n");
  ASSERT_NE(kp.InsertDirW(u"\\", second.u16string(), u"*", true, false), nullptr);
  ASSERT_GE(kp.ImportSession(0, "\\"), 1) << kp.LastImport().Reason;
  ASSERT_NE(kp.Prepare(), 0u);
  ASSERT_TRUE(Run([this] { return kp.Burn(); }) && !WriteFailed) << Error;

  const std::vector<TSessionExtent> sessions = RecordedSessions(kp.Device);
  ASSERT_EQ(sessions.size(), 2u);
  const TCommandResult list = RunTool("xorriso -load sbsector " + std::to_string(sessions.back().Start) +
                                      " -indev " + Quoted(Export("medium.iso")) + " -find / -exec lsdl");
  EXPECT_TRUE(std::regex_search(list.Output, std::regex(R"(-rwxr-xr-x .*'/tools/run\.sh')"))) << list.Output;
  EXPECT_TRUE(std::regex_search(list.Output, std::regex(R"(lrwxrwxrwx .*'/tools/link' -> 'run\.sh')"))) << list.Output;
  EXPECT_TRUE(std::regex_search(list.Output, std::regex(R"('/new\.txt')"))) << list.Output;
}

}  // namespace
}  // namespace kilnor::test
