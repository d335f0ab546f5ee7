// velmor-cli's drive commands against the emulated recorder:
//   velmor-cli info|speeds|erase|load|eject --aspi <bin>/libvelmor-recorder.so
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "CliRun.h"
#include "tests/device/EmulatedDrive.h"
#include "tests/fixtures/temp-folder/TempFolder.h"

namespace {

using kilnor::test::Emulator;
using kilnor::test::kBinDir;

using TRun = kilnor::test::TCliRun;
using kilnor::test::Cli;

class CliDriveCommands : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kBinDir + "/velmor-cli")) GTEST_SKIP() << "velmor-cli is not built";
    ASSERT_EQ(Emulator("reset"), 0);
  }
};

TEST_F(CliDriveCommands, InfoShowsWhatTheMediaInformationWindowShows) {
  ASSERT_EQ(Emulator("insert dvd+rw"), 0);
  const TRun run = Cli("info");
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  for (const char* line : {"Device is ready and media is present:   yes\n",
                           "Disc in drive:                          DVDPLUSRW\n",
                           "DISC Erasable:                          yes\n",
                           "Total Size:                             4,482.63 MB (2,295,104 blocks)\n",
                           "Max write speed:                        22,160 KB/s\n",
                           "BDRE          x     x\n", "BD ROM        x     -\n"})
    EXPECT_NE(run.Output.find(line), std::string::npos) << line << run.Output;
}

TEST_F(CliDriveCommands, InfoWithoutAMediumShowsTheUnreadyState) {
  ASSERT_EQ(Emulator("remove"), 0);
  const TRun run = Cli("info");
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_NE(run.Output.find("media is present:   no\n"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("Disc in drive:                          UNKNOWN\n"), std::string::npos);
  EXPECT_NE(run.Output.find("Total Size:                             0.00 MB (0 blocks)\n"), std::string::npos);
}

// What info says of the disc's state and sessions, for media as they come
// out of the emulator: blank, holding one recorded session, or pressed.
TEST_F(CliDriveCommands, InfoShowsTheDiscStateAndItsSessions) {
  const velmor_test::TempFolder folder;
  const std::string image = folder.MakeFile("session.bin", std::string(300 * 2048, 'S'));
  struct TCase {
    std::string Insert;
    std::string State;
    std::string Sessions;  // the session table, empty when none is shown
  };
  const TCase cases[] = {
      {"cd-r", "blank", ""},
      {"cd-r --image " + image, "appendable", "      1             0               300\n"},
      {"dvd+r --image " + image, "appendable", "      1             0               300\n"},
      // A pressed disc is recorded to its end whatever the image holds.
      {"cd-rom --image " + image, "finalised", "      1             0            359849\n"},
      {"dvd+rw", "overwritable", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Insert);
    ASSERT_EQ(Emulator("insert " + c.Insert), 0);
    const TRun run = Cli("info");
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find("Disc state:                             " + c.State + "\n"), std::string::npos)
        << run.Output;
    const std::size_t table = run.Output.find("Session  Start sector  Length (sectors)\n");
    if (c.Sessions.empty()) {
      EXPECT_EQ(table, std::string::npos) << run.Output;
    } else {
      EXPECT_NE(run.Output.find("Session  Start sector  Length (sectors)\n" + c.Sessions), std::string::npos)
          << run.Output;
    }
  }
}

TEST_F(CliDriveCommands, SpeedsListsWhatTheDriveAccepts) {
  ASSERT_EQ(Emulator("insert dvd+r"), 0);
  const TRun run = Cli("speeds");
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_EQ(run.Output,
            "Max\n16x (22,160 KB/s)\n12x (16,620 KB/s)\n8x (11,080 KB/s)\n4x (5,540 KB/s)\n"
            "2x (2,770 KB/s)\n");
}

TEST_F(CliDriveCommands, EraseRefusesWhatCannotBeErasedAndErasesTheRest) {
  ASSERT_EQ(Emulator("insert cd-r"), 0);
  TRun run = Cli("erase");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Output.find("DISC IS NOT ERASABLE."), std::string::npos) << run.Output;

  ASSERT_EQ(Emulator("remove"), 0);
  run = Cli("erase");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Output.find("DRIVE NOT READY."), std::string::npos) << run.Output;

  ASSERT_EQ(Emulator("insert cd-rw"), 0);
  run = Cli("erase --full");
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_NE(run.Output.find("ERASE DONE.\n"), std::string::npos) << run.Output;
}

TEST_F(CliDriveCommands, EjectLoadAndAMissingDrive) {
  EXPECT_EQ(Cli("eject").ExitCode, 0);
  EXPECT_EQ(Cli("load").ExitCode, 0);
  const TRun run = Cli("info --drive 5");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Output.find("there is no drive 5"), std::string::npos) << run.Output;
  EXPECT_EQ(Cli("info --drive x").ExitCode, 1);
}

}  // namespace
