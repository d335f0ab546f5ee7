// velmor-emulator, run as a person runs it.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "EmulatorTestSupport.h"

namespace velmor::emu::test {
namespace {

struct TRun {
  int ExitCode;
  std::string Output;
};

class HelperCommandTest : public ::testing::Test {
 protected:
  TRun Helper(const std::string& Arguments) {
    const std::string command =
        std::string(VELMOR_BIN_DIR) + "/velmor-emulator --dir '" + Dir.Path + "' " + Arguments + " 2>&1";
    TRun run{-1, {}};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) run.Output += chunk;
    const int status = ::pclose(pipe);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }
  TTempDir Dir;
};

TEST_F(HelperCommandTest, ListShowsTheDefaultDriveOnFirstUse) {
  TRun run = Helper("list");
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_NE(run.Output.find("VELMOR VIRTUAL RECORDER"), std::string::npos) << run.Output;
  EXPECT_NE(run.Output.find("dvd+rw, blank"), std::string::npos) << run.Output;
}

TEST_F(HelperCommandTest, InsertArmExportAndEject) {
  const std::string image = Dir.Path + "/in.iso";
  std::ofstream(image, std::ios::binary) << std::string(20 * kBlockSize, 'i');
  EXPECT_EQ(Helper("insert cd-rom --image '" + image + "'").ExitCode, 0);
  EXPECT_EQ(Helper("fault add fail-command --opcode 2Ah --count 2 --sense 3/0C/00").ExitCode, 0);
  TRun list = Helper("list");
  EXPECT_NE(list.Output.find("cd-rom, closed, 20 of"), std::string::npos) << list.Output;
  EXPECT_NE(list.Output.find("fail-command opcode 2Ah: command 2 fails with 3/0C/00"), std::string::npos)
      << list.Output;
  const TTempDir elsewhere;
  const std::string exported = elsewhere.Path + "/out.iso";
  ASSERT_EQ(Helper("export '" + exported + "'").ExitCode, 0);
  std::ifstream in(exported, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            std::string(20 * kBlockSize, 'i'));
  EXPECT_EQ(Helper("eject").ExitCode, 0);
  EXPECT_NE(Helper("list").Output.find("(tray open)"), std::string::npos);
  EXPECT_EQ(Helper("fault clear").ExitCode, 0);
  EXPECT_EQ(Helper("fault list").Output, "");
}

TEST_F(HelperCommandTest, BadInputIsRefusedWithAReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"insert floppy", "medium kind"},
      {"insert cd-r --blocks 0", "out of range"},
      {"insert cd-r --image /no/such.iso", "cannot read the image"},
      {"fault add write-error", "--lba"},
      {"fault add fail-command --opcode 2A", "--sense"},
      {"fault add busy --count many", "needs a number"},
      {"set busy-polls lots", "cannot set"},
      {"--drive 7 list", ""},
      {"--drive 7 eject", "no drive 7"},
      {"export", "path"},
      {"frobnicate", "unknown command"},
      {"insert cd-r --block 100", "no option --block"},
      {"eject --forse now", "no option --forse"},
      {"insert cd-r cd-rw", "does not take \"cd-rw\""},
      {"fault add fail-command --opcode 2A --count 0 --sense 3/0C/00", "at least 1"},
      {"fault add busy --count 0", "at least 1"},
      {"fault add not-ready --count 0", "at least 1"},
  };
  for (const auto& [arguments, reason] : cases) {
    SCOPED_TRACE(arguments);
    TRun run = Helper(arguments);
    if (std::string(arguments) == "--drive 7 list") {
      EXPECT_EQ(run.ExitCode, 0) << "list shows every drive whatever --drive says";
      continue;
    }
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find(reason), std::string::npos) << run.Output;
  }
}

// Help and the version are answered from the command line alone: the state
// directory is left untouched.
TEST_F(HelperCommandTest, HelpAndVersionLeaveTheStateAlone) {
  const std::pair<const char*, std::string> cases[] = {
      {"--help", "medium kinds:"},
      {"help", "fault types"},
      {"insert --help", "usage: velmor-emulator [--dir DIR] [--drive N] insert KIND [--blocks N]"},
      {"fault add --help", "usage: velmor-emulator [--dir DIR] [--drive N] fault add TYPE"},
      {"--version", "velmor-emulator " VELMOR_VERSION "\n"},
  };
  for (const auto& [arguments, expected] : cases) {
    SCOPED_TRACE(arguments);
    const TRun run = Helper(arguments);
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_NE(run.Output.find(expected), std::string::npos) << run.Output;
    EXPECT_TRUE(std::filesystem::is_empty(Dir.Path));
  }
}

// Whatever goes wrong with an insert, the disc in the drive stays as it was,
// with its data.
TEST_F(HelperCommandTest, AFailedInsertLeavesTheDiscAsItWas) {
  const TTempDir images;
  const std::string recorded = images.Path + "/recorded.iso";
  std::ofstream(recorded, std::ios::binary) << std::string(20 * kBlockSize, 'r');
  const std::string tooLarge = images.Path + "/large.iso";
  std::ofstream(tooLarge, std::ios::binary) << std::string(101 * kBlockSize, 'l');
  ASSERT_EQ(Helper("insert cd-rom --image '" + recorded + "'").ExitCode, 0);
  const std::string before = Helper("list").Output;
  const std::pair<std::string, const char*> cases[] = {
      {"insert cd-r --image /no/such.iso", "cannot read the image"},
      {"insert cd-r --image '" + images.Path + "'", "cannot read the image"},
      {"insert cd-r --blocks 100 --image '" + tooLarge + "'", "larger than the medium"},
      {"insert cd-r --block 100", "no option --block"},
      {"insert cd-r --blocks 0", "out of range"},
  };
  for (const auto& [arguments, reason] : cases) {
    SCOPED_TRACE(arguments);
    const TRun run = Helper(arguments);
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find(reason), std::string::npos) << run.Output;
    EXPECT_EQ(Helper("list").Output, before);
  }
  std::size_t dataFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Dir.Path))
    dataFiles += entry.path().extension() == ".data";
  EXPECT_EQ(dataFiles, 1u) << "no data file of a failed insert is left behind";
  const std::string exported = images.Path + "/out.iso";
  ASSERT_EQ(Helper("export '" + exported + "'").ExitCode, 0);
  std::ifstream in(exported, std::ios::binary);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()),
            std::string(20 * kBlockSize, 'r'));
}

TEST_F(HelperCommandTest, ExportNeverWritesIntoTheStateDirectory) {
  ASSERT_EQ(Helper("list").ExitCode, 0);
  const std::string state = Dir.Path + "/drive-0.json";
  const std::string saved = Helper("list").Output;
  const TTempDir elsewhere;
  const std::string link = elsewhere.Path + "/state-link";
  std::filesystem::create_hard_link(state, link);
  for (const std::string& target : {state, Dir.Path + "/drive-0.faults.json", Dir.Path + "/image.iso",
                                    Dir.Path + "/../" + std::filesystem::path(Dir.Path).filename().string() +
                                        "/drive-1.json",
                                    link}) {
    SCOPED_TRACE(target);
    const TRun run = Helper("export '" + target + "'");
    EXPECT_EQ(run.ExitCode, 1);
    EXPECT_NE(run.Output.find("state directory"), std::string::npos) << run.Output;
  }
  EXPECT_EQ(Helper("list").Output, saved);
  EXPECT_EQ(Helper("export '" + elsewhere.Path + "/image.iso'").ExitCode, 0);
}

// A state file that cannot be removed (here a folder of that name, which no
// permission bit of root's can make up for) fails the reset, named.
TEST_F(HelperCommandTest, AResetThatCannotRemoveEverythingFails) {
  ASSERT_EQ(Helper("list").ExitCode, 0);
  std::filesystem::create_directories(Dir.Path + "/drive-7.json/inside");
  const TRun run = Helper("reset");
  EXPECT_EQ(run.ExitCode, 1);
  EXPECT_NE(run.Output.find("cannot remove " + Dir.Path + "/drive-7.json"), std::string::npos) << run.Output;
  EXPECT_EQ(run.Output.find("state reset"), std::string::npos) << run.Output;
}

TEST_F(HelperCommandTest, SettingsAndASecondDrive) {
  EXPECT_EQ(Helper("set realtime on").ExitCode, 0);
  EXPECT_EQ(Helper("add-drive --writes cd-r,cd-rw --product 'CD WRITER'").ExitCode, 0);
  TRun list = Helper("list");
  EXPECT_NE(list.Output.find("VIRTUAL RECORDER 1.00, realtime"), std::string::npos) << list.Output;
  EXPECT_NE(list.Output.find("drive 1 (adapter 0, target 1): VELMOR CD WRITER"), std::string::npos) << list.Output;
  EXPECT_EQ(Helper("--drive 1 insert dvd-r").ExitCode, 0) << "a drive holds any disc it can read";
  EXPECT_EQ(Helper("reset").ExitCode, 0);
  EXPECT_EQ(Helper("list").Output.find("drive 1"), std::string::npos);
}

}  // namespace
}  // namespace velmor::emu::test
