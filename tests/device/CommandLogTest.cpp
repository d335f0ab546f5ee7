// The command log: names, the line format, the file and its failures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "engine/device/CommandLog.h"
#include "engine/device/Commands.h"
#include "engine/device/Media.h"
#include "tests/device/FakeDrive.h"

namespace kilnor {
namespace {

std::string ReadFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TSRB_ExecSCSICmd Request(std::uint8_t Code, std::uint8_t Flags, std::uint8_t CdbLength,
                         std::uint8_t* Buffer, std::uint32_t Length) {
  TSRB_ExecSCSICmd srb{};
  srb.CDBByte[0] = Code;
  srb.SRB_Flags = Flags;
  srb.SRB_CDBLen = CdbLength;
  srb.SRB_BufPointer = Buffer;
  srb.SRB_BufLen = Length;
  srb.SRB_HaId = 1;
  srb.SRB_Status = SS_COMP;
  return srb;
}

TEST(CommandNames, AreTwentyTwoCharactersOrEmpty) {
  int named = 0;
  for (int code = 0; code <= 0xFF; ++code) {
    const std::string_view name = CommandName(static_cast<std::uint8_t>(code));
    if (name.empty()) continue;
    ++named;
    EXPECT_EQ(name.size(), kCommandNameLength) << code;
  }
  EXPECT_EQ(named, 51);
  EXPECT_EQ(CommandName(0x52), "READ TRACK INFORMATION");
  EXPECT_EQ(CommandName(0x00), "TEST UNIT READY       ");
  EXPECT_EQ(CommandName(0x5E), "");
  EXPECT_EQ(CommandName(0xFF), "") << "the last operation code has a slot too";
}

TEST(CommandLine, HasTheFieldsInOrder) {
  TSRB_ExecSCSICmd srb = Request(0x00, 0x40, 6, nullptr, 0);
  EXPECT_EQ(FormatCommandLine(srb, {5, 7, 123}, {true, 0}),
            "05:07:123 TEST UNIT READY        (00) {40:06} - 1:0:0 <01> [00000] "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 | 00:00, 0\r\n");
  srb.SRB_Status = SS_ERR;
  srb.SenseArea[12] = 0x3A;
  srb.SenseArea[13] = 0x01;
  srb.CDBByte[15] = 0xAB;
  EXPECT_EQ(FormatCommandLine(srb, {59, 0, 9}, {false, 1110}),
            "59:00:009 TEST UNIT READY        (00) {40:06} - 1:0:0 <04> [00000] "
            "00 00 00 00 00 00 00 00 00 00 00 00 00 00 AB | 3A:01\r\n")
      << "the library transport adds no system error";
}

TEST(CommandLine, ShowsAtMostAHundredDataBytes) {
  alignas(4) std::uint8_t data[65536];
  for (std::size_t i = 0; i < sizeof data; ++i) data[i] = static_cast<std::uint8_t>(i);
  const TSRB_ExecSCSICmd srb = Request(0x28, 0x48, 10, data, 65536);
  const std::string line = FormatCommandLine(srb, {}, {});
  EXPECT_NE(line.find("READ (10)              (28) {48:0A} - 1:0:0 <01> [10000] "), std::string::npos);
  const std::string payload = line.substr(line.find("| ") + 2);
  EXPECT_EQ(payload.size(), 100 * 3 + 5 + 2);
  EXPECT_EQ(payload.substr(0, 12), "00 01 02 03 ");
  EXPECT_EQ(payload.substr(297), "63 00:00\r\n");
}

TEST(CommandLine, UnnamedCodeAndMisalignedBuffer) {
  alignas(4) std::uint8_t data[8] = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4};
  const TSRB_ExecSCSICmd srb = Request(0x5E, 0x48, 10, data + 1, 3);
  const std::string line = FormatCommandLine(srb, {1, 2, 3}, {});
  EXPECT_EQ(line.rfind("- NAL -> 0x", 0), 0u) << line;
  EXPECT_NE(line.find(" 01:02:003  (5E) {48:0A}"), std::string::npos) << "two blanks around an empty name";
  EXPECT_NE(line.find("| AD BE EF 00:00"), std::string::npos);
}

class CommandLogFile : public testing::Test {
 protected:
  void SetUp() override {
    Folder = std::filesystem::path(testing::TempDir()) / "velmor-command-log";
    std::filesystem::remove_all(Folder);
    const char* previous = std::getenv("XDG_STATE_HOME");
    PreviousState = previous ? std::optional<std::string>(previous) : std::nullopt;
    setenv("XDG_STATE_HOME", Folder.c_str(), 1);
  }
  void TearDown() override {
    if (PreviousState) setenv("XDG_STATE_HOME", PreviousState->c_str(), 1);
    else unsetenv("XDG_STATE_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(Folder, ignored);
  }
  std::filesystem::path Folder;
  std::optional<std::string> PreviousState;
};

// The capability query opens kilnorp.elg in the state directory; a short
// session of commands gives one line each after the version line.
TEST_F(CommandLogFile, CapabilityQueryLogsAShortSession) {
  test::TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  EXPECT_FALSE(DeviceCan(dev, DC_CLOSE_LOG)) << "no log open";
  ASSERT_TRUE(DeviceCan(dev, DC_OPEN_LOG));
  const std::string path = DefaultCommandLogPath();
  EXPECT_EQ(path, (Folder / "velmor" / "kilnorp.elg").string());
  drive.Replies[0x00] = {{}, 0x3A, 0x00};
  EXPECT_FALSE(TestUnitReady(dev));
  std::array<std::uint8_t, 64> inquiry{};
  drive.Replies[0x12] = {{0x05, 0x80, 0x05, 0x32}};
  EXPECT_TRUE(Inquiry(dev, inquiry));
  EXPECT_TRUE(DeviceCan(dev, DC_CLOSE_LOG));
  TestUnitReady(dev);

  const std::string text = ReadFile(path);
  const std::regex expected(
      std::regex_replace(EngineVersion(), std::regex(R"([()\.])"), R"(\$&)") +
      "\r\n"
      R"(\d\d:\d\d:\d\d\d TEST UNIT READY        \(00\) \{40:06\} - 0:0:0 <04> \[00000\] (00 ){15}\| 3A:00)"
      "\r\n"
      R"(\d\d:\d\d:\d\d\d INQUIRY                \(12\) \{48:06\} - 0:0:0 <01> \[00004\] 00 00 00 40 (00 ){11}\| 05 80 05 32 00:00)"
      "\r\n");
  EXPECT_TRUE(std::regex_match(text, expected)) << text;
  EXPECT_EQ(dev.fdbg.TakeWriteError(), "");
}

TEST_F(CommandLogFile, WriteFailuresAreReportedOnceAndNeverStopACommand) {
  test::TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  ASSERT_TRUE(dev.fdbg.Open("/dev/full"));
  EXPECT_TRUE(TestUnitReady(dev));
  EXPECT_TRUE(TestUnitReady(dev));
  const std::string error = dev.fdbg.TakeWriteError();
  EXPECT_NE(error.find("command log"), std::string::npos) << error;
  EXPECT_EQ(dev.fdbg.TakeWriteError(), "") << "reported once";
  EXPECT_TRUE(dev.fdbg.Close());
}

TEST_F(CommandLogFile, LogThatCannotBeCreatedStaysClosed) {
  TCommandLog log;
  EXPECT_FALSE(log.Open((Folder / "missing" / "folder" / "x.elg").string()));
  EXPECT_FALSE(log.IsOpen());
  log.Write("nothing\r\n");
  EXPECT_FALSE(log.Close());
}

}  // namespace
}  // namespace kilnor
