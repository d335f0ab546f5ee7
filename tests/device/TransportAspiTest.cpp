// Drive enumeration and commands through an ASPI library: the test library
// libtest-aspi.so answers for the devices each test configures.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "engine/device/CommandLog.h"
#include "engine/device/Commands.h"
#include "engine/device/SCSILib.h"
#include "tests/device/TransportFakeSystem.h"
#include "tests/fixtures/test-aspi/TestAspi.h"

namespace kilnor {
namespace {

const std::string kTestLibrary = std::string(VELMOR_BIN_DIR) + "/libtest-aspi.so";

TTestAspiDevice Device(std::uint8_t HaId, std::uint8_t Target, std::uint8_t Lun,
                       std::int16_t DriveNumber = -1, std::uint8_t Peripheral = 5,
                       std::uint8_t InquiryStatus = SS_COMP, std::uint8_t ReplyLength = 36) {
  TTestAspiDevice device{HaId, Target, Lun, Peripheral, InquiryStatus, ReplyLength, DriveNumber, {}};
  std::memcpy(device.Identification, "VELMOR  ASPI RECORDER   2.10", 28);
  return device;
}

// The test's own hold on the library: the engine loads the same instance,
// so what is configured here is what the engine talks to.
class AspiTransport : public testing::Test {
 protected:
  void SetUp() override {
    Library = dlopen(kTestLibrary.c_str(), RTLD_NOW);
    ASSERT_NE(Library, nullptr) << dlerror();
    Reset = Entry<decltype(&TestAspiReset)>("TestAspiReset");
    AddDevice = Entry<decltype(&TestAspiAddDevice)>("TestAspiAddDevice");
    ExecuteCount = Entry<decltype(&TestAspiExecuteCount)>("TestAspiExecuteCount");
    LastExecute = Entry<decltype(&TestAspiLastExecute)>("TestAspiLastExecute");
    FailCommands = Entry<decltype(&TestAspiFailCommands)>("TestAspiFailCommands");
    Reset(0x0101, 1, false);
  }
  void TearDown() override {
    Dev.reset();
    if (Library) dlclose(Library);
  }
  template <typename F>
  F Entry(const char* Name) {
    return reinterpret_cast<F>(dlsym(Library, Name));
  }
  bool Initialize() { return InitializeASPI(*Dev, true, kTestLibrary, ""); }

  void* Library = nullptr;
  decltype(&TestAspiReset) Reset = nullptr;
  decltype(&TestAspiAddDevice) AddDevice = nullptr;
  decltype(&TestAspiExecuteCount) ExecuteCount = nullptr;
  decltype(&TestAspiLastExecute) LastExecute = nullptr;
  decltype(&TestAspiFailCommands) FailCommands = nullptr;
  // No optical drive letters: the drive-letter search finds nothing.
  test::TFakeSystem NoDrives{{}};
  std::unique_ptr<TSCSIDevice> Dev = std::make_unique<TSCSIDevice>();
};

TEST_F(AspiTransport, ListsOpticalDevicesWithTheirLetters) {
  for (bool completeLater : {false, true}) {
    SCOPED_TRACE(completeLater ? "completion signalled later" : "completed at once");
    Reset(0x0101, 13, completeLater);
    const TTestAspiDevice devices[] = {Device(0, 1, 0, 4), Device(0, 2, 0, 4, 0),
                                       Device(0, 3, 0, 4, 5, SS_ERR), Device(12, 6, 1),
                                       Device(12, 7, 0, 26)};
    for (const TTestAspiDevice& device : devices) AddDevice(&device);
    ASSERT_TRUE(Initialize());
    EXPECT_FALSE(Dev->UsingSPTI);
    ASSERT_EQ(Dev->NoOfDevices, 3) << "a disk and a failed INQUIRY are left out";
    EXPECT_EQ(GetDeviceName(*Dev, 0), "0:1:0,E: VELMOR   ASPI RECORDER    2.10 ");
    EXPECT_EQ(GetDeviceName(*Dev, 1), "12:6:1,?: VELMOR   ASPI RECORDER    2.10 ");
    EXPECT_EQ(Dev->Devices[1].HaID, 12);
    EXPECT_EQ(Dev->Devices[1].Lun, 1);
    EXPECT_EQ(Dev->Devices[2].DriveLetter, '?') << "a drive number past Z names no letter";
  }
}

TEST_F(AspiTransport, ShortInquiryShowsOnlyReturnedText) {
  const TTestAspiDevice device = Device(0, 0, 0, 2, 5, SS_COMP, 12);
  AddDevice(&device);
  ASSERT_TRUE(Initialize());
  ASSERT_EQ(Dev->NoOfDevices, 1);
  EXPECT_EQ(GetDeviceName(*Dev, 0), "0:0:0,C: VELM" + std::string(27, ' '))
      << "the cleared rest of the reply reads as blanks";
}

TEST_F(AspiTransport, ScanStopsAtTwentySixDevices) {
  Reset(0x0101, 255, false);
  for (std::uint8_t adapter = 0; adapter < 5; ++adapter)
    for (std::uint8_t target = 0; target < 6; ++target) {
      const TTestAspiDevice device = Device(adapter, target, 0);
      AddDevice(&device);
    }
  ASSERT_TRUE(Initialize());
  EXPECT_EQ(Dev->NoOfDevices, 26);
  EXPECT_EQ(Dev->Devices[25].HaID, 4);
  EXPECT_EQ(Dev->Devices[25].Target, 1);
  EXPECT_LT(ExecuteCount(), 5u * 8 * 7) << "no probe after the table is full";
}

TEST_F(AspiTransport, AdapterCountZeroScansSevenAdapters) {
  Reset(0x0101, 0, false);
  const TTestAspiDevice devices[] = {Device(6, 0, 0), Device(7, 0, 0)};
  for (const TTestAspiDevice& device : devices) AddDevice(&device);
  ASSERT_TRUE(Initialize());
  ASSERT_EQ(Dev->NoOfDevices, 1);
  EXPECT_EQ(Dev->Devices[0].HaID, 6);
}

TEST_F(AspiTransport, UnusableLibraryLeavesNoTransport) {
  Reset(0, 1, false);
  EXPECT_FALSE(Initialize()) << "support info 0";
  EXPECT_FALSE(Dev->ASPIInitialized);
  EXPECT_FALSE(InitializeASPI(*Dev, true, "libm.so.6", "")) << "no ASPI entry points";
  EXPECT_FALSE(InitializeASPI(*Dev, true, "/nonexistent/libwnaspi32.so", ""));
  EXPECT_EQ(Dev->NoOfDevices, 0);
  EXPECT_FALSE(TestUnitReady(*Dev));
}

TEST_F(AspiTransport, CommandsGoToTheSelectedAddress) {
  Reset(0x0101, 3, false);
  const TTestAspiDevice device = Device(2, 5, 1, 3);
  AddDevice(&device);
  ASSERT_TRUE(Initialize());
  ASSERT_TRUE(SelectDeviceByLetter(*Dev, 'D'));
  EXPECT_STREQ(Dev->Vendor, "VELMOR  ");
  EXPECT_STREQ(Dev->ProductID, "ASPI RECORDER   ");

  ASSERT_TRUE(TestUnitReady(*Dev));
  std::uint8_t cdb[16], haId, target, lun, flags;
  LastExecute(cdb, &haId, &target, &lun, &flags);
  EXPECT_EQ(cdb[0], 0x00);
  EXPECT_EQ(haId, 2);
  EXPECT_EQ(target, 5);
  EXPECT_EQ(lun, 1);
  EXPECT_EQ(flags, SRB_EVENT_NOTIFY);

  FailCommands(0x3A, 0x02, STATUS_CHKCOND);
  EXPECT_FALSE(TestUnitReady(*Dev));
  EXPECT_EQ(Dev->DeviceError, 0x3A02);
  EXPECT_EQ(Dev->LastSenseInfo.SenseKey, 0x02);
  EXPECT_FALSE(Dev->TargetBusy);
}

TEST_F(AspiTransport, PendingCommandsAreWaitedFor) {
  const TTestAspiDevice device = Device(0, 0, 0, 2);
  AddDevice(&device);
  ASSERT_TRUE(Initialize());
  Reset(0x0101, 1, true);
  AddDevice(&device);
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  std::uint8_t reply[kInquiryLength];
  ASSERT_TRUE(Inquiry(*Dev, reply));
  EXPECT_EQ(Dev->LastTransferLength, kInquiryLength);
  EXPECT_EQ(std::memcmp(reply + 8, "VELMOR", 6), 0);
  FailCommands(0x04, 0x01, STATUS_BUSY);
  EXPECT_FALSE(TestUnitReady(*Dev));
  EXPECT_EQ(Dev->DeviceError, 0x0401);
  EXPECT_TRUE(Dev->TargetBusy) << "a pending request that ends on a busy target is busy";
}

TEST_F(AspiTransport, LogHasNoEnumerationLinesAndNoSystemErrorAfterCommands) {
  const TTestAspiDevice device = Device(0, 0, 0, 2);
  AddDevice(&device);
  const std::string path = testing::TempDir() + "transport-aspi.elg";
  ASSERT_TRUE(InitializeASPI(*Dev, true, kTestLibrary, path));
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  CloseDevice(*Dev);
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], EngineVersion() + "\r");
  EXPECT_NE(lines[1].find("INQUIRY"), std::string::npos) << "no enumeration line before it";
  EXPECT_TRUE(lines[1].ends_with(" 00:00\r")) << "the line ends with the sense code alone";
  std::remove(path.c_str());
}

TEST(AspiLibraryChoice, CallersPathAloneElseDefaultThenEmulatedRecorderBesideTheProgramThenInstalledThenOnItsSearchPath) {
  EXPECT_EQ(ASPILibraryCandidates("/opt/aspi/libmy.so"), std::vector<std::string>{"/opt/aspi/libmy.so"});
  const std::vector<std::string> defaults = ASPILibraryCandidates("");
  ASSERT_EQ(defaults.size(), 4u);
  EXPECT_EQ(defaults[0], "libwnaspi32.so");
  EXPECT_EQ(defaults[1], std::string(VELMOR_BIN_DIR) + "/libvelmor-recorder.so");
  EXPECT_TRUE(defaults[2].starts_with(std::string(VELMOR_BIN_DIR) + "/../")) << defaults[2];
  EXPECT_TRUE(defaults[2].ends_with("/velmor/libvelmor-recorder.so")) << defaults[2];
  EXPECT_EQ(defaults[3], "libvelmor-recorder.so");
}

}  // namespace
}  // namespace kilnor
