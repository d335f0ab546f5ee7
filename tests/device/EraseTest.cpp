// The erase worker against a drive with chosen answers: the commands of each
// medium's path, and the faults that must end in one failed report, never
// in a hang. Waits run on a fake clock.
#include <gtest/gtest.h>

#include "engine/device/Commands.h"
#include "engine/device/Erase.h"
#include "engine/platform/Clock.h"
#include "tests/device/FakeDrive.h"

namespace kilnor {
namespace {

using namespace std::chrono_literals;
using test::TFakeDrive;
using test::TFakeReply;
using test::TSentCommand;

constexpr std::uint8_t kNotReady = 0x04;

struct TReport {
  int Count = 0;
  bool Failed = false;
  std::uint16_t StatusWhenReported = 0xFFFF;
};

class Erase : public testing::Test {
 protected:
  Erase() { drive.Replies[0x51] = {test::DiscInformationReply(0x10, 1, 1)}; }

  void Insert(std::uint16_t Profile) { drive.Replies[0x46] = {test::ConfigurationReply(Profile)}; }

  // Runs the worker's body on this thread; the handler is called directly
  // because the device has no notification queue.
  TReport Run(bool Quick, bool WithHandler = true) {
    TReport report;
    TEraseDoneEvent handler;
    if (WithHandler)
      handler = [&](void*, std::uint8_t, bool Failed) {
        ++report.Count;
        report.Failed = Failed;
        report.StatusWhenReported = files->ComponentStatus;
      };
    BeginErase(*files, drive.Device(), Quick, handler);
    EXPECT_EQ(files->ComponentStatus, stErasing);
    TEraseThread(*files, drive.Device()).Execute();
    EXPECT_EQ(files->ComponentStatus, stIdle);
    return report;
  }

  TFakeDrive drive;
  std::unique_ptr<TCDFiles> files = std::make_unique<TCDFiles>();
  TFakeClock clock;
  TClockOverride useClock{clock};
};

TEST_F(Erase, BlanksRewritableCDsAndDVDRWs) {
  struct TCase {
    std::uint16_t Profile;
    bool Quick;
    std::uint8_t BlankByte;
  };
  for (const TCase& c : {TCase{0x000A, true, 0x11}, TCase{0x000A, false, 0x10}, TCase{0x0014, false, 0x10},
                         TCase{0x0013, true, 0x11}}) {
    drive.Sent.clear();
    Insert(c.Profile);
    const TReport report = Run(c.Quick);
    EXPECT_EQ(report.Count, 1);
    EXPECT_FALSE(report.Failed);
    EXPECT_EQ(report.StatusWhenReported, stIdle) << "idle before the completion is sent";
    const auto blanks = drive.SentWith(0xA1);
    ASSERT_EQ(blanks.size(), 1u);
    EXPECT_EQ(blanks[0].Cdb[1], c.BlankByte);
    EXPECT_EQ(blanks[0].CdbLength, 12);
    EXPECT_EQ(drive.SentWith(0x51).size(), 1u) << "one poll, the drive being ready";
  }
}

TEST_F(Erase, ReappliesTheChosenSpeeds) {
  Insert(0x000A);
  drive.Device().ReadSpeed = 0;
  drive.Device().WriteSpeed = 5540;
  Run(true);
  const auto speeds = drive.SentWith(0xBB);
  ASSERT_EQ(speeds.size(), 1u);
  EXPECT_EQ(speeds[0].Cdb[4] << 8 | speeds[0].Cdb[5], 5540);
}

TEST_F(Erase, PollsEveryFiveSecondsUntilReady) {
  Insert(0x000A);
  int polls = 0;
  drive.Answer = [&](const TSentCommand& command) -> TFakeReply {
    if (command.Code() == 0x51 && ++polls <= 3) return {{}, kNotReady, 0x04};
    return drive.Replies[command.Code()];
  };
  const TReport report = Run(false);
  EXPECT_FALSE(report.Failed);
  EXPECT_EQ(polls, 4);
  EXPECT_EQ(clock.elapsed(), 20s);
}

struct TFaultCase {
  const char* Name;
  std::function<TFakeReply(TSCSIDevice&, const TSentCommand&)> Fault;
  std::uint16_t DeviceError;
};

class EraseFault : public Erase, public testing::WithParamInterface<TFaultCase> {};

TEST_P(EraseFault, EndsInOneFailedReport) {
  Insert(0x000A);
  drive.Answer = [&](const TSentCommand& command) -> TFakeReply {
    if (command.Code() == 0x46) return drive.Replies[0x46];
    return GetParam().Fault(drive.Device(), command);
  };
  const TReport report = Run(true);
  EXPECT_EQ(report.Count, 1);
  EXPECT_TRUE(report.Failed);
  EXPECT_EQ(drive.Device().DeviceError, GetParam().DeviceError);
  EXPECT_LE(clock.elapsed(), kNotReadyWaitLimit + kNotReadyPollInterval);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EraseFault,
    testing::Values(
        TFaultCase{"BlankRefused",
                   [](TSCSIDevice&, const TSentCommand& c) -> TFakeReply {
                     return c.Code() == 0xA1 ? TFakeReply{{}, 0x30, 0x05} : TFakeReply{};
                   },
                   0x3005},
        TFaultCase{"NeverReady",
                   [](TSCSIDevice&, const TSentCommand& c) -> TFakeReply {
                     return c.Code() == 0x51 ? TFakeReply{{}, kNotReady, 0x04} : TFakeReply{};
                   },
                   0x0404},
        TFaultCase{"MediumRemoved",
                   [](TSCSIDevice&, const TSentCommand& c) -> TFakeReply {
                     return c.Code() == 0x51 ? TFakeReply{{}, 0x3A, 0x00} : TFakeReply{};
                   },
                   0x3A00},
        // The drive goes away after accepting BLANK: the polls are refused
        // before they reach it and leave no sense data of their own.
        TFaultCase{"PollRefused",
                   [](TSCSIDevice& dev, const TSentCommand& c) -> TFakeReply {
                     if (c.Code() == 0xA1) dev.HaID = kNoAddress;
                     return {};
                   },
                   0x0000}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Erase, NeverReadyGivesUpAtTheLimit) {
  Insert(0x000A);
  drive.Replies[0x51] = {{}, kNotReady, 0x04};
  EXPECT_TRUE(Run(true).Failed);
  EXPECT_EQ(drive.SentWith(0x51).size(), static_cast<std::size_t>(kNotReadyWaitLimit / kNotReadyPollInterval));
}

TEST_F(Erase, AbortStopsTheWait) {
  Insert(0x000A);
  drive.Answer = [&](const TSentCommand& command) -> TFakeReply {
    if (command.Code() != 0x51) return drive.Replies[command.Code()];
    files->Aborted = true;
    return {{}, kNotReady, 0x04};
  };
  const TReport report = Run(false);
  EXPECT_TRUE(report.Failed);
  EXPECT_EQ(drive.SentWith(0x51).size(), 1u);
}

TEST_F(Erase, RefusedQuickFormatStillClearsTheStart) {
  for (std::uint16_t profile : {0x001A, 0x0043}) {
    drive.Sent.clear();
    Insert(profile);
    drive.Replies[0x04] = {{}, 0x24};
    const TReport report = Run(true);
    EXPECT_FALSE(report.Failed) << "success unless a write fails";
    const auto writes = drive.SentWith(0x2A);
    ASSERT_EQ(writes.size(), 16u);
    for (std::size_t i = 0; i < writes.size(); ++i) {
      EXPECT_EQ(writes[i].Cdb[4] << 8 | writes[i].Cdb[5], static_cast<int>(32 * i));
      EXPECT_EQ(writes[i].Cdb[8], 32);
      ASSERT_EQ(writes[i].Out.size(), kPacketBytes);
      EXPECT_EQ(std::count(writes[i].Out.begin(), writes[i].Out.end(), 0), static_cast<long>(kPacketBytes));
    }
    EXPECT_EQ(drive.SentWith(0x35).size(), 1u);
    const auto closes = drive.SentWith(0x5B);
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].Cdb[2], 3);
    EXPECT_TRUE(drive.Device().CloseFH);
  }
}

TEST_F(Erase, QuickFormatListsOfBDREAndDVDPlusRW) {
  struct TCase {
    std::uint16_t Profile;
    std::vector<std::uint8_t> List;
  };
  for (const TCase& c : {TCase{0x0043, {0x00, 0x82, 0x00, 0x08, 0x00, 0x00, 0x02, 0x80, 0xC0, 0x00, 0x10, 0x00}},
                         TCase{0x001A, {0x00, 0x82, 0x00, 0x08, 0x00, 0x23, 0x05, 0x40, 0x98, 0x00, 0x00, 0x00}}}) {
    drive.Sent.clear();
    Insert(c.Profile);
    EXPECT_FALSE(Run(true).Failed);
    const auto formats = drive.SentWith(0x04);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].Cdb[1], 0x11);
    EXPECT_EQ(formats[0].Out, c.List);
  }
}

TEST_F(Erase, WriteFailureStopsOverwritingAndFails) {
  Insert(0x001A);
  drive.Answer = [&](const TSentCommand& command) -> TFakeReply {
    if (command.Code() == 0x2A && drive.SentWith(0x2A).size() == 3) return {{}, 0x0C, 0x00};
    return drive.Replies[command.Code()];
  };
  const TReport report = Run(true);
  EXPECT_TRUE(report.Failed);
  EXPECT_EQ(drive.SentWith(0x2A).size(), 3u);
  EXPECT_EQ(drive.SentWith(0x35).size(), 1u) << "the path's remaining steps still run";
  EXPECT_TRUE(drive.Device().CloseFH);
}

// The zeros reach the disc only when the drive writes its cache out and
// ends the format: a refused SYNCHRONIZE CACHE or CLOSE TRACK/SESSION is a
// failed erase, never "ERASE DONE.".
TEST_F(Erase, RefusedSynchroniseOrCloseFailsTheErase) {
  struct TCase {
    const char* Medium;
    std::uint16_t Profile;
    bool Quick;
    std::uint8_t Refused;
  };
  for (const TCase& c : {TCase{"DVD+RW", 0x001A, true, 0x35}, TCase{"DVD+RW", 0x001A, true, 0x5B},
                         TCase{"DVD+RW", 0x001A, false, 0x35}, TCase{"BD-RE", 0x0043, true, 0x35},
                         TCase{"BD-RE", 0x0043, true, 0x5B}, TCase{"DVD-RAM", 0x0012, true, 0x35}}) {
    drive.Sent.clear();
    drive.Replies.erase(0x35);
    drive.Replies.erase(0x5B);
    Insert(c.Profile);
    drive.Replies[c.Refused] = {{}, 0x0C, 0x00, 0x3};
    const TReport report = Run(c.Quick);
    SCOPED_TRACE(std::string(c.Medium) + (c.Quick ? " quick" : " full") + ", refused " +
                 std::to_string(c.Refused));
    EXPECT_EQ(report.Count, 1);
    EXPECT_TRUE(report.Failed);
    EXPECT_EQ(drive.Device().DeviceError, 0x0C00);
    EXPECT_EQ(drive.SentWith(c.Refused).size(), 1u) << "sent once, not retried";
  }
}

TEST_F(Erase, FullEraseOfDVDPlusRWFormatsThenOverwrites128MiB) {
  Insert(0x001A);
  std::vector<std::uint16_t> statusDuringWrites;
  drive.Answer = [&](const TSentCommand& command) -> TFakeReply {
    if (command.Code() == 0x2A) statusDuringWrites.push_back(files->ComponentStatus);
    return drive.Replies[command.Code()];
  };
  EXPECT_FALSE(Run(false).Failed);
  EXPECT_EQ(drive.SentWith(0x04).size(), 1u);
  EXPECT_EQ(drive.SentWith(0x2A).size(), 2048u);
  EXPECT_EQ(statusDuringWrites.front(), stBackgroundFormat);
}

TEST_F(Erase, FullEraseOfBDREFormatsTheWholeDisc) {
  Insert(0x0043);
  drive.Replies[0x23] = {{0, 0, 0, 16, 0x00, 0xB2, 0x9C, 0x00, 0x02, 0x00, 0x08, 0x00,
                          0x00, 0xB1, 0x2F, 0x00, 0x00, 0x00, 0x08, 0x00}};
  EXPECT_FALSE(Run(false).Failed);
  const auto formats = drive.SentWith(0x04);
  ASSERT_EQ(formats.size(), 1u);
  EXPECT_EQ(formats[0].Out, (std::vector<std::uint8_t>{0x00, 0x82, 0x00, 0x08, 0x00, 0xB1, 0x2F, 0x00,
                                                       0x00, 0x00, 0x08, 0x00}));
  EXPECT_EQ(drive.SentWith(0x2A).size(), 16u);

  drive.Sent.clear();
  drive.Replies[0x04] = {{}, 0x31, 0x00};
  EXPECT_TRUE(Run(false).Failed) << "a refused full format is a failure";
  EXPECT_TRUE(drive.SentWith(0x2A).empty());
}

TEST_F(Erase, DVDRAM) {
  Insert(0x0012);
  EXPECT_FALSE(Run(true).Failed);
  EXPECT_EQ(drive.SentWith(0x2A).size(), 128u);
  EXPECT_TRUE(drive.SentWith(0x04).empty());

  drive.Sent.clear();
  drive.Replies[0x04] = {{}, 0x24};
  const TReport refused = Run(false);
  EXPECT_EQ(refused.Count, 1);
  EXPECT_TRUE(refused.Failed);
  EXPECT_TRUE(drive.SentWith(0x2A).empty());
}

TEST_F(Erase, NoHandlerNoReportButStatusReturnsToIdle) {
  Insert(0x000A);
  const TReport report = Run(true, false);
  EXPECT_EQ(report.Count, 0);
}

TEST_F(Erase, NoMediumSendsBlankWhichTheDriveRefuses) {
  drive.Replies[0x46] = {test::ConfigurationReply(0x0000)};
  drive.Replies[0xA1] = {{}, 0x3A, 0x00};
  const TReport report = Run(true);
  EXPECT_TRUE(report.Failed);
  EXPECT_EQ(drive.SentWith(0xA1).size(), 1u);
}

}  // namespace
}  // namespace kilnor
