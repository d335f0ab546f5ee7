// velmor-cli burn and burn-iso as a person runs them on the emulated
// recorder: the disc read back, the refusals with their messages, Ctrl-C.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "BurnFixtures.h"
#include "CliRun.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

class CliBurn : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Emulator("reset"), 0);
    SmallTree(src);
  }
  fs::path Exported() {
    const fs::path image = scratch.path() / "medium.iso";
    EXPECT_EQ(Emulator("export " + Quoted(image)), 0);
    return image;
  }

  TTempDir scratch;
  // The command line records a folder as a folder of its name: the disc's
  // root holds what `tree` holds.
  const fs::path tree = scratch.path() / "tree";
  const fs::path src = tree / "src";
};

TEST_F(CliBurn, BurnsAFolderThatReadersGetBack) {
  ASSERT_EQ(Emulator("insert bd-r"), 0);
  const TCliRun run = Cli("burn " + Quoted(src) + " --volume-id CLI --speed 2 --udf --finalize");
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_NE(run.Output.find("Burned the compilation"), std::string::npos) << run.Output;
  EXPECT_EQ(EmulatorMedium().State, "closed");
  const fs::path image = Exported();
  ExpectExtractedTreeIs(image, tree, scratch.path());
  const TCommandResult udf = RunTool("7z t -tudf " + Quoted(image));
  EXPECT_EQ(udf.ExitCode, 0) << udf.Output;
}

TEST_F(CliBurn, BurnsAnImageBuiltByBuildIso) {
  ASSERT_EQ(Emulator("insert dvd-r"), 0);
  const fs::path image = scratch.path() / "built.iso";
  const TCommandResult built = RunTool(kBinDir + "/velmor-cli build-iso " + Quoted(src) + " -o " + Quoted(image));
  ASSERT_EQ(built.ExitCode, 0) << built.Output;
  const TCliRun run = Cli("burn-iso " + Quoted(image) + " --eject");
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  ExpectExtractedTreeIs(Exported(), tree, scratch.path());
}

struct TRefusal {
  const char* Name;
  const char* Kind;
  bool BurnFirst;         // a first burn leaves data on the disc
  const char* Arguments;  // after "burn <src>"
  int ExitCode;
  const char* Message;
};

class CliBurnRefusal : public CliBurn, public testing::WithParamInterface<TRefusal> {};

TEST_P(CliBurnRefusal, SaysWhyAndLeavesTheDiscAsItWas) {
  ASSERT_EQ(Emulator(std::string("insert ") + GetParam().Kind), 0);
  if (GetParam().BurnFirst) {
    ASSERT_EQ(Cli("burn " + Quoted(src)).ExitCode, 0);
  }
  const std::uint32_t recorded = EmulatorMedium().Recorded;
  const TCliRun run = Cli("burn " + Quoted(src) + " " + GetParam().Arguments);
  EXPECT_EQ(run.ExitCode, GetParam().ExitCode) << run.Output;
  EXPECT_NE(run.Output.find(GetParam().Message), std::string::npos) << run.Output;
  EXPECT_EQ(EmulatorMedium().Recorded, recorded);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, CliBurnRefusal,
    testing::Values(
        TRefusal{"AppendableDisc", "dvd+r", true, "", 1, "the disc already holds data: use --append to add a session"},
        TRefusal{"RewritableDiscWithAVolume", "dvd+rw", true, "", 1, "or 'velmor-cli erase' to erase it first"},
        TRefusal{"TestWriteOnBDR", "bd-r", false, "--test", 1,
                 "Test write is not possible on this medium: the drive would really record it"},
        TRefusal{"WrongSpeed", "cd-r", false, "--speed fast", 2, "--speed takes a factor"},
        TRefusal{"VerifyOfATestBurn", "cd-r", false, "--test --verify", 2,
                 "--verify reads back what was recorded, and a --test burn records nothing"}),
    TNamedCase());

TEST_F(CliBurn, AppendAddsASessionThatListsTheFilesOfBoth) {
  ASSERT_EQ(Emulator("insert dvd+r"), 0);
  ASSERT_EQ(Cli("burn " + Quoted(src)).ExitCode, 0);
  const fs::path later = scratch.path() / "later";
  WriteFile(later / "new.txt", "second session\n");
  const TCliRun run = Cli("burn --append " + Quoted(later));
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_NE(run.Output.find("Appending to session 1: "), std::string::npos) << run.Output;

  const TCliRun info = Cli("info");
  EXPECT_NE(info.Output.find("Disc state:                             appendable\n"), std::string::npos)
      << info.Output;
  const TCliRun last = Cli("ls");
  ASSERT_EQ(last.ExitCode, 0) << last.Output;
  EXPECT_NE(last.Output.find("Session 2\n"), std::string::npos) << last.Output;
  for (const char* path : {"  /later/new.txt\n", "  /src/readme.txt\n", "  /src/data/deeper/100000.bin\n"})
    EXPECT_NE(last.Output.find(path), std::string::npos) << path << last.Output;
  const TCliRun earlier = Cli("ls --session 1");
  ASSERT_EQ(earlier.ExitCode, 0) << earlier.Output;
  EXPECT_EQ(earlier.Output.find("new.txt"), std::string::npos) << earlier.Output;
}

TEST_F(CliBurn, CtrlCAbortsTheBurnAsAFailure) {
  ASSERT_EQ(Emulator("insert dvd+r"), 0);
  // A drive that never takes the data keeps the burn waiting until Ctrl-C.
  ASSERT_EQ(Emulator("fault add not-ready --opcode 2A --count 1000000"), 0);
  const TCliRun run = Cli("burn " + Quoted(src), "timeout --preserve-status -s INT 2 ");
  EXPECT_EQ(run.ExitCode, 1) << run.Output;
  EXPECT_NE(run.Output.find("failed: Aborted by user"), std::string::npos) << run.Output;
}

}  // namespace
}  // namespace kilnor::test
