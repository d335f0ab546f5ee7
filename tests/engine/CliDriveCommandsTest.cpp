// velmor-cli's drive commands against the emulated recorder:
//   velmor-cli info|speeds|erase|load|eject|ls --aspi <bin>/libvelmor-recorder.so
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "CliRun.h"
#include "ReaderTools.h"
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

// The disc is made from the image, without Rock Ridge, of
//   genisoimage -J -V LISTED -o IMAGE SRC
// with a.txt, docs/b.txt and an empty folder.
TEST_F(CliDriveCommands, LsListsTheLabelAndTreeOfADiscOrAnImageAndRefusesWhatHoldsNone) {
  if (!kilnor::test::HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
  const kilnor::test::TTempDir scratch;
  const std::filesystem::path src = scratch.path() / "src";
  std::filesystem::create_directories(src / "docs" / "empty");
  std::ofstream(src / "a.txt") << "hello";
  std::ofstream(src / "docs" / "b.txt") << std::string(3000, 'b');
  const std::string image = (scratch.path() / "disc.iso").string();
  ASSERT_EQ(kilnor::test::RunTool("genisoimage -quiet -J -V LISTED -o " + kilnor::test::Quoted(image) + " " +
                                  kilnor::test::Quoted(src)).ExitCode, 0);
  const std::string listing =
      "Volume label: LISTED\n"
      "             5  /a.txt\n"
      "         <dir>  /docs/\n"
      "          3000  /docs/b.txt\n"
      "         <dir>  /docs/empty/\n"
      "2 files, 2 folders, 3005 bytes\n";

  ASSERT_EQ(Emulator("insert dvd+r --image " + kilnor::test::Quoted(image)), 0);
  TRun run = Cli("ls");
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_EQ(run.Output, "Session 1\n" + listing);
  run = Cli("ls --image " + kilnor::test::Quoted(image));
  EXPECT_EQ(run.ExitCode, 0) << run.Output;
  EXPECT_EQ(run.Output, listing);

  struct Refusal {
    const char* emulator;  // what the drive holds; null: as before
    const char* arguments;
    const char* message;
  };
  const Refusal refusals[] = {
      {nullptr, "ls --session 2", "cannot list the disc: the disc holds 1 session(s), not 2"},
      {nullptr, "ls --image /etc/hostname", "no ISO 9660 volume descriptor in sectors 0 to 32"},
      {nullptr, "ls --image /no/such.iso", "cannot open the image file /no/such.iso"},
      {"insert cd-r", "ls", "the disc is blank"},
      {"remove", "ls", "no medium in the drive"},
  };
  for (const Refusal& refusal : refusals) {
    if (refusal.emulator) {
      ASSERT_EQ(Emulator(refusal.emulator), 0);
    }
    run = Cli(refusal.arguments);
    EXPECT_EQ(run.ExitCode, 1) << refusal.arguments;
    EXPECT_NE(run.Output.find(refusal.message), std::string::npos) << run.Output;
  }
  EXPECT_EQ(Cli("ls --image x.iso --session 1").ExitCode, 2);
}

// "2017-07-14 02:40" of a time in this process's time zone, as ls -l dates it.
std::string LocalMinute(std::time_t time) {
  std::tm local{};
  localtime_r(&time, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &local);
  return text;
}

// An image whose primary tree records Rock Ridge:
//   xorriso -as mkisofs -R -V POSIX -o IMAGE SRC
// of run.sh (mode 4755), docs/ (750) and docs/link -> ../run.sh.
TEST_F(CliDriveCommands, LsShowsModesOwnersTimesAndLinkTargetsWhenTheSessionRecordsRockRidge) {
  if (!kilnor::test::HaveTool("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  const kilnor::test::TTempDir scratch;
  const std::filesystem::path src = scratch.path() / "src";
  std::filesystem::create_directories(src / "docs");
  std::ofstream(src / "run.sh") << "#!/bin/sh\n";
  std::filesystem::create_symlink("../run.sh", src / "docs" / "link");
  ASSERT_EQ(chmod((src / "run.sh").c_str(), 04755), 0);
  ASSERT_EQ(chmod((src / "docs").c_str(), 0750), 0);
  constexpr std::time_t kTime = 1'500'000'000;
  for (const char* item : {"run.sh", "docs/link", "docs"}) {
    const timespec times[2] = {{kTime, 0}, {kTime, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (src / item).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }
  const std::string image = (scratch.path() / "posix.iso").string();
  ASSERT_EQ(kilnor::test::RunTool("xorriso -as mkisofs -quiet -R -V POSIX -o " + kilnor::test::Quoted(image) + " " +
                                  kilnor::test::Quoted(src)).ExitCode, 0);

  const TRun run = Cli("ls --image " + kilnor::test::Quoted(image));
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  const std::string owner = std::to_string(getuid()), group = std::to_string(getgid());
  const auto line = [&](const std::string& mode, int links, int size, const std::string& path) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %3d %5s %5s %12d ", mode.c_str(), links, owner.c_str(), group.c_str(), size);
    return text + LocalMinute(kTime) + "  " + path + "\n";
  };
  EXPECT_EQ(run.Output, "Volume label: POSIX\n" + line("drwxr-x---", 1, 0, "/docs/") +
                            line("lrwxrwxrwx", 1, 0, "/docs/link -> ../run.sh") +
                            line("-rwsr-xr-x", 1, 10, "/run.sh") + "2 files, 1 folders, 10 bytes\n");
}

}  // namespace
