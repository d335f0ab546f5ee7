// velmor-cli's drive commands against the emulated recorder:
//   velmor-cli info|speeds|erase|load|eject --aspi <bin>/libvelmor-recorder.so
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/device/EmulatedDrive.h"

namespace {

using kilnor::test::Emulator;
using kilnor::test::kBinDir;

struct TRun {
  int ExitCode = -1;
  std::string Output;  // standard output and standard error
};

TRun Cli(const std::string& Arguments) {
  kilnor::test::EmulatorDirectory();
  const std::string command = kBinDir + "/velmor-cli " + Arguments + " --aspi " + kBinDir +
                              "/libvelmor-recorder.so 2>&1";
  TRun run;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) run.Output += chunk;
    const int status = pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return run;
}

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

// Write speeds belong to a disc: without one the command says so and fails.
TEST_F(CliDriveCommands, SpeedsWithoutADiscFailsSayingWhy) {
  const std::pair<const char*, const char*> cases[] = {
      {"remove", "(sense 2/3A/01: medium not present, tray closed)"},
      {"eject", "(sense 2/3A/02: medium not present, tray open)"},
  };
  for (const auto& [state, sense] : cases) {
    SCOPED_TRACE(state);
    ASSERT_EQ(Emulator(state), 0);
    const TRun run = Cli("speeds");
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find("no write speeds"), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find(sense), std::string::npos) << run.Output;
    EXPECT_EQ(run.Output.find("Max"), std::string::npos) << run.Output;
  }
}

// A drive failure reads as the engine's text, then the sense and what it
// means.
TEST_F(CliDriveCommands, DriveFailuresCarryTheirSenseAndItsMeaning) {
  struct TCase {
    const char* Disc;
    const char* Fault;
    const char* Command;
    const char* Printed;
  };
  for (const TCase& c : {
           TCase{"dvd-ram", "--opcode 35 --sense 3/0C/00", "erase",
                 "velmor-cli: ERASE DONE WITH ERROR. Hardware Error 3072 (sense 3/0C/00: write error)\n"},
           TCase{"cd-rw", "--opcode 1B --sense 4/53/00", "load",
                 "velmor-cli: the drive did not load its tray: Hardware Error 21248 (sense 4/53/00: media load or "
                 "eject failed)\n"},
           TCase{"cd-rw", "--opcode 1B --sense 5/53/02", "eject",
                 "velmor-cli: the drive did not eject: Hardware Error 21250 (sense 5/53/02: medium removal "
                 "prevented)\n"},
       }) {
    SCOPED_TRACE(std::string(c.Command) + " " + c.Fault);
    ASSERT_EQ(Emulator(std::string("insert ") + c.Disc), 0);
    ASSERT_EQ(Emulator(std::string("fault add fail-command ") + c.Fault), 0);
    const TRun run = Cli(c.Command);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find(c.Printed), std::string::npos) << run.Output;
    ASSERT_EQ(Emulator("fault clear"), 0);
  }
}

// A drive that has just had its disc changed, been reset or is spinning up
// is asked again before anything is judged from its answer.
TEST_F(CliDriveCommands, ADriveGettingOverAChangeIsAskedAgain) {
  struct TCase {
    const char* Fault;
    const char* Command;
    const char* Printed;
  };
  // A quick erase of a DVD-RAM overwrites its start and waits for no format.
  for (const TCase& c : {
           TCase{"fail-command --opcode 46 --sense 6/28/00", "erase", "ERASE DONE.\n"},
           TCase{"fail-command --opcode 00 --sense 6/29/00", "erase", "ERASE DONE.\n"},
           TCase{"not-ready --count 2 --sense 2/04/01", "erase", "ERASE DONE.\n"},
           TCase{"not-ready --count 2 --sense 2/04/01", "drives", "0: 0:0:0,?: VELMOR   VIRTUAL RECORDER"},
           TCase{"fail-command --opcode 46 --sense 6/28/00", "speeds", "Max\n"},
       }) {
    SCOPED_TRACE(std::string(c.Command) + " after " + c.Fault);
    ASSERT_EQ(Emulator("insert dvd-ram"), 0);
    ASSERT_EQ(Emulator(std::string("fault add ") + c.Fault), 0);
    const TRun run = Cli(c.Command);
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    EXPECT_NE(run.Output.find(c.Printed), std::string::npos) << run.Output;
    ASSERT_EQ(Emulator("fault clear"), 0);
  }
}

TEST_F(CliDriveCommands, ALogInAFolderThatDoesNotExistFails) {
  for (const char* command : {"drives", "info", "erase"}) {
    SCOPED_TRACE(command);
    const TRun run = Cli(std::string(command) + " --log /nonexistent-velmor-folder/drive.elg");
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find("cannot create the command log '/nonexistent-velmor-folder/drive.elg': the "
                              "folder '/nonexistent-velmor-folder' does not exist"),
              std::string::npos)
        << run.Output;
  }
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
