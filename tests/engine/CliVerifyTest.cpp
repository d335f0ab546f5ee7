// velmor-cli burn --verify and velmor-cli verify as a person runs them on the
// emulated recorder: discs that match, a disc that cannot be read back, and
// sources that changed, appeared or went away since the burn; also a disc
// whose session another program made.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "BurnFixtures.h"
#include "CliRun.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

class CliVerify : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Emulator("reset"), 0);
    SmallTree(src);
  }

  static void ExpectSays(const TCliRun& Run, const std::string& Text) {
    EXPECT_NE(Run.Output.find(Text), std::string::npos) << Text << "\n" << Run.Output;
  }

  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
};

TEST_F(CliVerify, BurnVerifyReadsEveryFileBack) {
  ASSERT_EQ(Emulator("insert dvd+r"), 0);
  const TCliRun run = Cli("burn " + Quoted(src) + " --verify");
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  ExpectSays(run, "Verified 6 files: all match\n");
}

TEST_F(CliVerify, BurnVerifyOfAnAppendedSessionChecksOnlyTheNewFiles) {
  ASSERT_EQ(Emulator("insert bd-r"), 0);
  ASSERT_EQ(Cli("burn " + Quoted(src)).ExitCode, 0);
  const fs::path later = scratch.path() / "later";
  WriteFile(later / "new.txt", "second session\n");
  const TCliRun run = Cli("burn --append " + Quoted(later) + " --verify");
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  ExpectSays(run, "Verified 1 file: all match\n");
}

TEST_F(CliVerify, BurnVerifyFailsWhenTheDiscCannotBeReadBack) {
  ASSERT_EQ(Emulator("insert cd-r"), 0);
  // A blank CD-R is burned without a READ (10): the first one is the verify's.
  ASSERT_EQ(Emulator("fault add fail-command --opcode 28 --count 1 --sense 3/11/00"), 0);
  const TCliRun run = Cli("burn " + Quoted(src) + " --verify");
  EXPECT_EQ(run.ExitCode, 1) << run.Output;
  ExpectSays(run, "Burned the compilation");
  ExpectSays(run, ": the drive could not read sector ");
  ExpectSays(run, "sense 3/11/00");
  ExpectSays(run, "Verified 6 files: 1 differs\n");
}

TEST_F(CliVerify, VerifyTellsWhatChangedSinceTheBurn) {
  ASSERT_EQ(Emulator("insert dvd+rw"), 0);
  ASSERT_EQ(Cli("burn " + Quoted(src)).ExitCode, 0);
  const TCliRun same = Cli("verify " + Quoted(src));
  EXPECT_EQ(same.ExitCode, 0) << same.Output;
  ExpectSays(same, "Verified 6 files: all match\n");

  const fs::path changed = src / "data" / "2049.bin";
  WriteFile(changed, Pattern(2049, 8));
  fs::last_write_time(changed, fs::last_write_time(changed) + std::chrono::seconds(10));
  WriteFile(src / "data" / "added.txt", "not burned\n");
  fs::remove(src / "readme.txt");
  const TCliRun run = Cli("verify " + Quoted(src));
  EXPECT_EQ(run.ExitCode, 1) << run.Output;
  ExpectSays(run, "Mismatch: " + changed.string() + ": the source was changed after it was recorded");
  ExpectSays(run, "Missing on the disc: " + (src / "data" / "added.txt").string() + "\n");
  ExpectSays(run, "Not among the sources: /src/readme.txt\n");
  ExpectSays(run, "Verified 5 files: 1 differs, 1 missing, 1 unexpected\n");
}

TEST_F(CliVerify, VerifyChecksADiscAnotherProgramMade) {
  if (!HaveTool("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  ASSERT_EQ(Emulator("insert dvd-r"), 0);
  const fs::path image = scratch.path() / "other.iso";
  // The image holds the folder src at its root, as burn records a folder.
  const TCommandResult made =
      RunTool("xorriso -as mkisofs -J -V OTHER -o " + Quoted(image) + " -graft-points /src=" + Quoted(src));
  ASSERT_EQ(made.ExitCode, 0) << made.Output;
  ASSERT_EQ(Cli("burn-iso " + Quoted(image)).ExitCode, 0);
  const TCliRun run = Cli("verify " + Quoted(src));
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  ExpectSays(run, "Verified 6 files: all match\n");
}

TEST_F(CliVerify, VerifyOfABlankDiscSaysWhy) {
  ASSERT_EQ(Emulator("insert cd-r"), 0);
  const TCliRun run = Cli("verify " + Quoted(src));
  EXPECT_EQ(run.ExitCode, 1) << run.Output;
  ExpectSays(run, "the disc's last session cannot be read: the disc is blank");
}

}  // namespace
}  // namespace kilnor::test
