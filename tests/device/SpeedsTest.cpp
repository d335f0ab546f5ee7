// Speed factors, the requested speeds and the meters.
#include <gtest/gtest.h>

#include "engine/device/Commands.h"
#include "engine/device/Speeds.h"
#include "tests/device/FakeDrive.h"

namespace kilnor {
namespace {

using test::TFakeDrive;

TEST(SpeedFactors, BaseSpeedsAndRounding) {
  struct TCase {
    TMedium Medium;
    double Factor;
    std::uint32_t Speed;
  };
  for (const TCase& c : {TCase{mtCDR, 8, 1412}, TCase{mtUNKNOWN, 1, 176}, TCase{mtDDCDRW, 52, 9176},
                         TCase{mtDVDPLUSR, 16, 22160}, TCase{mtDVDROM, 1, 1385},
                         TCase{mtBDRE, 8, 35964}, TCase{mtHDDVDRAM, 1, 4496}, TCase{mtBDRSR, 16, 71928}}) {
    EXPECT_EQ(SpeedOfFactor(c.Factor, c.Medium), c.Speed) << int(c.Medium) << " " << c.Factor;
    EXPECT_EQ(FactorOfSpeed(c.Speed, c.Medium), static_cast<std::uint32_t>(c.Factor));
  }
  EXPECT_EQ(SpeedOfFactor(0.5, mtBDROM), 2248u) << "2247.75";
  EXPECT_EQ(FactorOfSpeed(2077, mtDVDR), 1u) << "1.4996";
  EXPECT_EQ(FactorOfSpeed(2078, mtDVDR), 2u) << "1.5004";
}

TEST(RequestedSpeeds, AreRememberedAndSentWithZeroAsMaximum) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  SetDeviceSpeed(dev, 0, 5540);
  EXPECT_EQ(dev.ReadSpeed, 0u);
  EXPECT_EQ(dev.WriteSpeed, 5540u);
  const auto sent = drive.SentWith(0xBB);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Cdb[2] << 8 | sent[0].Cdb[3], 0xFFFF);
  EXPECT_EQ(sent[0].Cdb[4] << 8 | sent[0].Cdb[5], 5540);
}

TEST(RequestedSpeeds, QueriesReadTheCapabilitiesAgain) {
  TFakeDrive drive;
  std::vector<std::uint8_t> page(22, 0);
  page[0] = 0x2A;
  page[1] = 20;
  page[3] = 0x01;
  test::PutBE16(page, 8, 7056);
  test::PutBE16(page, 14, 5645);
  test::PutBE16(page, 18, 8467);
  test::PutBE16(page, 20, 1412);
  drive.Replies[0x5A] = {test::ModeSenseReply(page)};
  TSCSIDevice& dev = drive.Device();
  EXPECT_EQ(QueryDeviceMaxReadSpeed(dev), 7056);
  EXPECT_EQ(QueryDeviceMaxWriteSpeed(dev), 8467);
  EXPECT_EQ(QueryMaxWriteSpeed(dev), 8467);
  EXPECT_EQ(QueryReadSpeed(dev), 5645);
  EXPECT_EQ(QueryWriteSpeed(dev), 1412);
  drive.Replies[0x5A] = {{}, 0x24};
  EXPECT_EQ(QueryWriteSpeed(dev), 0) << "an unreadable page gives 0";
}

TEST(Meters, RingMeasuresBytesOverTicksAndCountsOnlyFilledSlots) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  AddSpeedSample(dev, 65536, 1000);
  EXPECT_EQ(MeasuredSpeed(dev), 0u) << "before the first reset the tick length is unknown";
  ResetSpeedMeters(dev);
  EXPECT_EQ(MeasuredSpeed(dev), 0u);
  dev.QPFreq = 0.001;  // a microsecond counter
  AddSpeedSample(dev, 65536, 10000);
  AddSpeedSample(dev, 65536, 10000);
  EXPECT_EQ(MeasuredSpeed(dev), 6553600u) << "131072 bytes in 20 ms";
  for (int i = 0; i < 64; ++i) AddSpeedSample(dev, 1024, 1000);
  EXPECT_EQ(MeasuredSpeed(dev), 1024000u) << "only the last 64 transfers count";
  dev.qIndex = -5;
  AddSpeedSample(dev, 2048, 1000);
  EXPECT_EQ(dev.qBytes[0], 2048u) << "a broken index starts over at slot 0";
}

TEST(Meters, MeasuredSpeedSaturatesInsteadOfWrapping) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  ResetSpeedMeters(dev);
  dev.QPFreq = 0.001;
  AddSpeedSample(dev, std::uint64_t{1} << 40, 1);
  EXPECT_EQ(MeasuredSpeed(dev), 0xFFFFFFFFu);
  EXPECT_EQ(BMWriteSpeed(dev), 0) << "the first call answers with the previous value";
  EXPECT_EQ(BMWriteSpeed(dev), 0xFFFF);
}

TEST(Meters, MomentaryMeterAnswersWithThePreviousMeasurement) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  ResetSpeedMeters(dev);
  dev.QPFreq = 1.0;  // a millisecond counter
  AddSpeedSample(dev, 1024 * 1000, 1000);
  EXPECT_EQ(BMReadSpeed(dev), 0);
  EXPECT_EQ(BMReadSpeed(dev), 1000);
  AddSpeedSample(dev, 1024 * 1000, 1000);
  EXPECT_EQ(BMWriteSpeed(dev), 0) << "the write meter keeps its own previous value";
  EXPECT_EQ(BMWriteSpeed(dev), 1000) << "both read the same ring";
}

// The write meter's starting estimate comes from the speed reported last:
// nothing but the WRITE (10) goes to the drive.
TEST(Meters, TransfersAreMeteredWithoutExtraCommands) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  dev.CurWriteSpeed = 5540;
  const std::vector<std::uint8_t> packet(kPacketBytes, 0);
  ASSERT_TRUE(Write10(dev, 0, 32, kPacketBytes, packet));
  ASSERT_EQ(drive.Sent.size(), 1u);
  EXPECT_EQ(drive.Sent[0].Code(), 0x2A);
  EXPECT_EQ(dev.bmWSize, 65536.0);
  EXPECT_EQ(dev.bmWCounter, 1);
  EXPECT_GT(dev.bmAvgWriteSpeed.load(), 0) << "a fast transfer saturates rather than wraps";

  drive.Replies[0x28] = {{}, 0x11};
  std::vector<std::uint8_t> sector(kSectorBytes);
  EXPECT_FALSE(Read10(dev, 16, 1, sector));
  EXPECT_EQ(dev.bmRSize, 2048.0) << "a failed read is metered too";
  EXPECT_EQ(dev.bmRCounter, 1);
}

}  // namespace
}  // namespace kilnor
