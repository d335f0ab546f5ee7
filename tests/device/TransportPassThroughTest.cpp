// Drive enumeration and command translation over the system pass-through,
// with fake drives standing in for /dev/sr0, /dev/sr1, ...
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "engine/device/CommandLog.h"
#include "engine/device/Commands.h"
#include "engine/device/SCSILib.h"
#include "tests/device/TransportFakeSystem.h"

namespace kilnor {
namespace {

using test::InquiryReply;
using test::TFakeSystemDrive;
using test::TFakeSystem;

constexpr const char* kNoLibrary = "/nonexistent/libwnaspi32.so";

TFakeSystemDrive Addressed(char Letter, std::uint8_t Host, std::uint8_t Target,
                     std::vector<std::uint8_t> Inquiry = InquiryReply("VELMOR", "RECORDER ONE", "1.00")) {
  TFakeSystemDrive drive;
  drive.Letter = Letter;
  drive.Host = Host;
  drive.Target = Target;
  drive.Inquiry = std::move(Inquiry);
  return drive;
}

TFakeSystemDrive Unaddressed(char Letter) {
  TFakeSystemDrive drive = Addressed(Letter, 0, 0);
  drive.HasAddress = false;
  return drive;
}

struct TExpectedEntry {
  char Letter;
  std::uint8_t HaID, Target, Lun;
  std::string Description;
};

struct TEnumerationCase {
  const char* Name;
  std::vector<TFakeSystemDrive> Drives;
  std::vector<TExpectedEntry> Table;
};

constexpr const char* kText = "VELMOR   RECORDER ONE     1.00 ";

std::vector<TEnumerationCase> EnumerationCases() {
  TFakeSystemDrive notOptical = Addressed('C', 0, 0);
  notOptical.BlockDevice = false;
  TFakeSystemDrive readOnly = Addressed('D', 0, 1);
  readOnly.OpensReadWrite = false;
  TFakeSystemDrive unopenable = Addressed('E', 0, 2);
  unopenable.OpensReadWrite = unopenable.OpensReadOnly = false;
  return {
      {"AddressedDrivesInLetterOrder",
       {Addressed('C', 1, 0), Addressed('D', 2, 1)},
       {{'C', 1, 0, 0, std::string("1:0:0,C: ") + kText},
        {'D', 2, 1, 0, std::string("2:1:0,D: ") + kText}}},
      {"LoneDriveWithoutAddressGetsAdapterOne",
       {Unaddressed('C')},
       {{'C', 1, 0, 0, std::string("1:0:0,C: ") + kText}}},
      {"DrivesWithoutAddressFollowInLetterOrder",
       {Unaddressed('C'), Addressed('D', 3, 0), Unaddressed('E')},
       {{'D', 3, 0, 0, std::string("3:0:0,D: ") + kText},
        {'C', 4, 0, 0, std::string("4:0:0,C: ") + kText},
        {'E', 5, 0, 0, std::string("5:0:0,E: ") + kText}}},
      {"AdapterNumbersFromTenInDecimal",
       {Addressed('C', 11, 2), Unaddressed('D')},
       {{'C', 11, 2, 0, std::string("11:2:0,C: ") + kText},
        {'D', 12, 0, 0, std::string("12:0:0,D: ") + kText}}},
      {"FailedInquiryListsEmptyTexts",
       {Addressed('C', 0, 0), Addressed('D', 0, 1, {})},
       {{'C', 0, 0, 0, std::string("0:0:0,C: ") + kText}, {'D', 0, 1, 0, "0:1:0,D:    "}}},
      {"ShortInquiryKeepsOnlyReturnedBytes",
       {Addressed('C', 0, 0, InquiryReply("VELMOR", "RECORDER ONE", "1.00", 12))},
       {{'C', 0, 0, 0, "0:0:0,C: VELM   "}}},
      {"OtherPeripheralTypeListsEmptyTexts",
       {Addressed('C', 0, 0, InquiryReply("VELMOR", "DISK", "1.00", 36, 0))},
       {{'C', 0, 0, 0, "0:0:0,C:    "}}},
      {"NonOpticalAndUnopenableLettersLeftOut",
       {notOptical, readOnly, unopenable},
       {{'D', 0, 1, 0, std::string("0:1:0,D: ") + kText}}},
  };
}

class PassThroughEnumeration : public testing::TestWithParam<TEnumerationCase> {};

TEST_P(PassThroughEnumeration, ListsDrives) {
  TFakeSystem system(GetParam().Drives);
  auto dev = std::make_unique<TSCSIDevice>();
  ASSERT_TRUE(InitializeASPI(*dev, false, kNoLibrary, ""));
  EXPECT_TRUE(dev->UsingSPTI);
  const auto& table = GetParam().Table;
  ASSERT_EQ(dev->NoOfDevices, table.size());
  for (std::size_t i = 0; i < table.size(); ++i) {
    const TDeviceEntry& entry = dev->Devices[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(entry.DriveLetter, table[i].Letter);
    EXPECT_EQ(entry.DeviceType, 5);
    EXPECT_EQ(entry.HaID, table[i].HaID);
    EXPECT_EQ(entry.Target, table[i].Target);
    EXPECT_EQ(entry.Lun, table[i].Lun);
    EXPECT_EQ(GetDeviceName(*dev, static_cast<std::uint8_t>(i)), table[i].Description);
  }
  EXPECT_TRUE(system.OpenHandles.empty()) << "every drive opened for enumeration is closed";
}

INSTANTIATE_TEST_SUITE_P(Cases, PassThroughEnumeration, testing::ValuesIn(EnumerationCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

class PassThroughDevice : public testing::Test {
 protected:
  TFakeSystem System{{Addressed('C', 1, 0), Addressed('D', 1, 1, {})}};
  std::unique_ptr<TSCSIDevice> Dev = std::make_unique<TSCSIDevice>();

  void SetUp() override { ASSERT_TRUE(InitializeASPI(*Dev, false, kNoLibrary, "")); }
};

TEST_F(PassThroughDevice, EnumerationLeavesNothingSelectedAndNothingOpen) {
  EXPECT_EQ(Dev->Handle, -1);
  EXPECT_EQ(Dev->HaID, kNoAddress);
  EXPECT_EQ(Dev->Target, kNoAddress);
  EXPECT_EQ(Dev->Lun, kNoAddress);
  EXPECT_FALSE(TestUnitReady(*Dev));
  EXPECT_EQ(System.CommandsSent, 0);
}

TEST_F(PassThroughDevice, SelectDeviceLoadsIdentification) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  EXPECT_EQ(Dev->DriveLetter, 'C');
  EXPECT_EQ(Dev->HaID, 1);
  EXPECT_STREQ(Dev->Vendor, "VELMOR  ");
  EXPECT_STREQ(Dev->ProductID, "RECORDER ONE    ");
  EXPECT_TRUE(TestUnitReady(*Dev));
}

TEST_F(PassThroughDevice, SelectingADriveWhoseInquiryFailsForgetsThePreviousIdentification) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  EXPECT_FALSE(SelectDevice(*Dev, 1));
  EXPECT_STREQ(Dev->Vendor, "");
  EXPECT_STREQ(Dev->ProductID, "");
  EXPECT_EQ(Dev->DriveLetter, 'D') << "the drive stays selected; only its identification is unknown";
}

TEST_F(PassThroughDevice, IndexAtDeviceCountSelectsNothingAndCommandsAreRefused) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  EXPECT_FALSE(SelectDevice(*Dev, Dev->NoOfDevices));
  EXPECT_EQ(Dev->HaID, kNoAddress);
  EXPECT_EQ(Dev->DriveLetter, '?');
  const int sent = System.CommandsSent;
  TSRB_ExecSCSICmd srb = MakeSRB(TDataDirection::None, 6, nullptr, 0);
  EXPECT_EQ(ExecSCSICommand(*Dev, srb), SS_ERR);
  EXPECT_EQ(srb.SRB_Status, SS_ERR);
  EXPECT_FALSE(TestUnitReady(*Dev));
  EXPECT_EQ(System.CommandsSent, sent);
}

TEST_F(PassThroughDevice, SelectByLetterMatchesExactly) {
  EXPECT_FALSE(SelectDeviceByLetter(*Dev, 'c'));
  EXPECT_EQ(Dev->HaID, kNoAddress) << "nothing was selected";
  EXPECT_FALSE(SelectDeviceByLetter(*Dev, '\0'));
  EXPECT_FALSE(SelectDeviceByLetter(*Dev, 'Q'));
  EXPECT_TRUE(SelectDeviceByLetter(*Dev, 'C'));
  EXPECT_EQ(Dev->SelectedDevice, 0);
}

TEST_F(PassThroughDevice, NamesPastTheTableAreEmpty) {
  EXPECT_FALSE(GetDeviceName(*Dev, 1).empty());
  EXPECT_EQ(GetDeviceName(*Dev, 2), "");
  EXPECT_EQ(GetDeviceName(*Dev, 25), "");
  EXPECT_EQ(GetDeviceName(*Dev, 255), "");
}

TEST_F(PassThroughDevice, CommandsTranslateDirectionLengthsAndTimeout) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  struct TCase {
    TDataDirection Direction;
    std::uint8_t CdbLength;
    std::uint32_t Length;
    int SgDirection;
  } cases[] = {{TDataDirection::None, 6, 0, SG_DXFER_NONE},
               {TDataDirection::In, 10, 2048, SG_DXFER_FROM_DEV},
               {TDataDirection::Out, 12, 4096, SG_DXFER_TO_DEV}};
  std::vector<std::uint8_t> buffer(4096);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.CdbLength);
    TSRB_ExecSCSICmd srb = MakeSRB(c.Direction, c.CdbLength, c.Length ? buffer.data() : nullptr, c.Length);
    srb.CDBByte[0] = 0x28;
    srb.CDBByte[c.CdbLength - 1] = 0x77;
    EXPECT_EQ(ExecSCSICommand(*Dev, srb), SS_COMP);
    EXPECT_EQ(System.LastHeader.dxfer_direction, c.SgDirection);
    EXPECT_EQ(System.LastHeader.dxfer_len, c.Length);
    EXPECT_EQ(System.LastHeader.cmd_len, c.CdbLength);
    EXPECT_EQ(System.LastCdb.back(), 0x77);
    EXPECT_EQ(System.LastHeader.mx_sb_len, 24);
    EXPECT_EQ(System.LastHeader.timeout, 12000u * 1000u);
    EXPECT_EQ(srb.SRB_HaId, 1);
    EXPECT_EQ(srb.SRB_Cmd, SC_EXEC_SCSI_CMD);
  }
}

TEST_F(PassThroughDevice, ReplyBufferIsClearedAndTheReturnedLengthReported) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  System.Answer.Data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  std::vector<std::uint8_t> buffer(100, 0xEE);
  TSRB_ExecSCSICmd srb = MakeSRB(TDataDirection::In, 10, buffer.data(), 100);
  EXPECT_EQ(ExecSCSICommand(*Dev, srb), SS_COMP);
  EXPECT_EQ(Dev->LastTransferLength, 10u);
  EXPECT_EQ(buffer[9], 10);
  EXPECT_EQ(std::count(buffer.begin() + 10, buffer.end(), 0), 90) << "no stale byte past the reply";
}

struct TFailureCase {
  const char* Name;
  test::TFakeAnswer Answer;
  std::uint8_t TargStat;
  std::uint16_t DeviceError;
  std::uint32_t SystemError;
  bool Busy;
};

class PassThroughFailure : public PassThroughDevice, public testing::WithParamInterface<TFailureCase> {};

TEST_P(PassThroughFailure, IsReportedAsErrorWithSense) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  Dev->DeviceError = 0x0401;
  System.Answer = GetParam().Answer;
  TSRB_ExecSCSICmd srb = MakeSRB(TDataDirection::None, 6, nullptr, 0);
  EXPECT_EQ(ExecSCSICommand(*Dev, srb), SS_ERR);
  EXPECT_EQ(srb.SRB_TargStat, GetParam().TargStat);
  EXPECT_EQ(Dev->DeviceError, GetParam().DeviceError);
  EXPECT_EQ(Dev->LastSenseInfo.AddSenseCode, GetParam().Answer.Asc);
  EXPECT_EQ(Dev->LastSenseInfo.AddSenQual, GetParam().Answer.Ascq);
  EXPECT_EQ(Dev->LastWinError, GetParam().SystemError);
  EXPECT_EQ(Dev->TargetBusy, GetParam().Busy);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PassThroughFailure,
    testing::Values(
        TFailureCase{"CheckConditionCopiesSense", {{}, 0x02, 0, 0x3A, 0x01, 0}, 0x02, 0x3A01, 0, false},
        TFailureCase{"BusyTarget", {{}, 0x08, 0, 0, 0, 0}, 0x08, 0x0401, 0, true},
        TFailureCase{"CallRejectedBySystem", {{}, 0, 0, 0, 0, ENXIO}, 0, 0x0401, ENXIO, false},
        TFailureCase{"AdapterErrorWithoutTargetStatus", {{}, 0, 0x07, 0, 0, 0}, 0, 0x0401, EIO, false}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(PassThroughDevice, MalformedRequestIsNotSent) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  const int sent = System.CommandsSent;
  TSRB_ExecSCSICmd srb = MakeSRB(TDataDirection::None, 17, nullptr, 0);
  EXPECT_EQ(ExecSCSICommand(*Dev, srb), SS_ERR);
  TSRB_ExecSCSICmd noBuffer = MakeSRB(TDataDirection::In, 10, nullptr, 1);
  EXPECT_EQ(ExecSCSICommand(*Dev, noBuffer), SS_ERR);
  EXPECT_EQ(System.CommandsSent, sent);
}

TEST_F(PassThroughDevice, HandleOpensLazilyAndStaysOpenUnlessCloseFH) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  const int opensAfterSelect = System.Opens;
  ASSERT_TRUE(TestUnitReady(*Dev));
  ASSERT_TRUE(TestUnitReady(*Dev));
  EXPECT_EQ(System.Opens, opensAfterSelect) << "one handle serves every command";
  EXPECT_GT(Dev->Handle, 0);

  Dev->CloseFH = true;
  ASSERT_TRUE(TestUnitReady(*Dev));
  EXPECT_EQ(Dev->Handle, -1);
  ASSERT_TRUE(TestUnitReady(*Dev));
  ASSERT_TRUE(TestUnitReady(*Dev));
  EXPECT_EQ(System.Opens, opensAfterSelect + 2) << "reopened for every command";
  EXPECT_EQ(Dev->Handle, -1);
  EXPECT_TRUE(System.OpenHandles.empty());
}

TEST_F(PassThroughDevice, StandardInputIsNeverUsedNorClosed) {
  CloseDevice(*Dev);
  EXPECT_TRUE(std::find(System.Closed.begin(), System.Closed.end(), 0) == System.Closed.end());

  System.StandardInputClosed = true;
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  EXPECT_NE(Dev->Handle, 0) << "a drive that lands on descriptor 0 is moved above it";
  CloseDevice(*Dev);
  EXPECT_EQ(Dev->Handle, -1);
  EXPECT_TRUE(System.OpenHandles.empty());
}

TEST_F(PassThroughDevice, SecondInitializeStartsOverKeepingComponentSettings) {
  ASSERT_TRUE(SelectDevice(*Dev, 0));
  ASSERT_TRUE(TestUnitReady(*Dev));
  Dev->BurnProof = true;
  Dev->CloseFH = true;
  auto* queue = reinterpret_cast<TNotificationQueue*>(Dev.get());
  Dev->hWNDFE = queue;
  System.Drives.clear();

  EXPECT_FALSE(InitializeASPI(*Dev, false, kNoLibrary, ""));
  EXPECT_EQ(Dev->NoOfDevices, 0);
  EXPECT_FALSE(Dev->ASPIInitialized);
  EXPECT_EQ(Dev->Handle, -1);
  EXPECT_EQ(Dev->HaID, kNoAddress);
  EXPECT_FALSE(Dev->CloseFH);
  EXPECT_TRUE(Dev->BurnProof);
  EXPECT_EQ(Dev->hWNDFE, queue);
  EXPECT_TRUE(System.OpenHandles.empty()) << "the open handle was closed";
  EXPECT_FALSE(TestUnitReady(*Dev));
  EXPECT_EQ(GetDeviceName(*Dev, 0), "");
}

TEST(PassThroughNoDrive, WithoutDriveOrLibraryNothingIsReady) {
  TFakeSystem system({});
  auto dev = std::make_unique<TSCSIDevice>();
  EXPECT_FALSE(InitializeASPI(*dev, false, kNoLibrary, ""));
  EXPECT_EQ(dev->NoOfDevices, 0);
  EXPECT_FALSE(SelectDevice(*dev, 0));
  EXPECT_FALSE(TestUnitReady(*dev));
  EXPECT_EQ(system.CommandsSent, 0);
}

std::vector<std::string> LogLines(const std::string& Path) {
  std::ifstream file(Path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

TEST(PassThroughLog, EnumerationWritesOneLinePerLetterAndCommandsFollow) {
  TFakeSystemDrive notOptical = Addressed('C', 0, 0);
  notOptical.BlockDevice = false;
  TFakeSystemDrive unopenable = Addressed('E', 0, 0);
  unopenable.OpensReadWrite = unopenable.OpensReadOnly = false;
  TFakeSystem system({notOptical, unopenable, Addressed('F', 0, 0)});
  const std::string path = testing::TempDir() + "transport-enumeration.elg";
  auto dev = std::make_unique<TSCSIDevice>();
  ASSERT_TRUE(InitializeASPI(*dev, false, kNoLibrary, path));

  std::vector<std::string> expected = {EngineVersion(), "C: ( 0)", "D: ( 1)",
                                       "System Error Code: " + std::to_string(EACCES),
                                       "System Error Code: " + std::to_string(EACCES), ")",
                                       std::string("F: 5 - ( 0:0:0,F: ") + kText + ")"};
  for (char letter = 'G'; letter <= 'Z'; ++letter) expected.push_back(letter + std::string(": ( 1)"));
  EXPECT_EQ(LogLines(path), expected) << "the enumeration's own INQUIRY is not logged";

  ASSERT_TRUE(SelectDevice(*dev, 0));
  const std::vector<std::string> lines = LogLines(path);
  ASSERT_GT(lines.size(), expected.size());
  const std::string& inquiry = lines[expected.size()];
  EXPECT_NE(inquiry.find("INQUIRY"), std::string::npos) << "selection starts with INQUIRY";
  EXPECT_TRUE(inquiry.ends_with("00:00, 0")) << "pass-through lines end with the system error";
  CloseDevice(*dev);
  EXPECT_FALSE(dev->fdbg.IsOpen());
  std::remove(path.c_str());
}

}  // namespace
}  // namespace kilnor
