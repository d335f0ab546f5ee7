// velmor-emulator, run as a person runs it.
#include <cstdio>
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
  const std::string exported = Dir.Path + "/out.iso";
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
