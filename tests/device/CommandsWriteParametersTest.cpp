// The write parameters page sent for each medium: the drive's page is read
// with MODE SENSE (10) and sent back composed with MODE SELECT (10).
#include <gtest/gtest.h>

#include "engine/device/Commands.h"
#include "tests/device/FakeDrive.h"

namespace kilnor {
namespace {

using test::TFakeDrive;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kPageLen = 0x32;

// The drive's page: its own values everywhere, so that what is not composed
// shows.
Bytes DrivePage() {
  Bytes page(kPageLen + 2, 0xEE);
  page[0] = 0x05;
  page[1] = kPageLen;
  return page;
}

struct TWriteParametersCase {
  const char* Name;
  TMedium Medium;
  bool TestWrite;
  bool Multisession;
  bool BurnProof;
  Bytes Composed;  // page bytes 2..15
};

class WriteParameters : public testing::TestWithParam<TWriteParametersCase> {};

TEST_P(WriteParameters, ComposesThePageForTheMedium) {
  const TWriteParametersCase& c = GetParam();
  for (std::uint16_t blockDescriptors : {0, 8}) {
    SCOPED_TRACE(blockDescriptors ? "with a block descriptor" : "without a block descriptor");
    TFakeDrive drive;
    const Bytes sensed = test::ModeSenseReply(DrivePage(), blockDescriptors);
    drive.Replies[0x5A] = {sensed};
    TSCSIDevice& dev = drive.Device();
    dev.ModePage2A.OtherInfo = 0x80;
    ASSERT_TRUE(SetWriteParameters(dev, c.TestWrite, c.BurnProof, c.Multisession, c.Medium));

    const auto senses = drive.SentWith(0x5A);
    ASSERT_EQ(senses.size(), 1u);
    EXPECT_EQ(senses[0].Cdb[2], 0x05) << "current values of page 05h";
    const auto selects = drive.SentWith(0x55);
    ASSERT_EQ(selects.size(), 1u);
    const Bytes& sent = selects[0].Out;
    const std::size_t h = 8u + blockDescriptors;
    ASSERT_EQ(sent.size(), h + kPageLen + 2u);
    EXPECT_EQ(selects[0].Cdb[1], 0x10) << "page format";
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(h)),
              Bytes(sensed.begin(), sensed.begin() + static_cast<std::ptrdiff_t>(h)))
        << "the header goes back as the drive sent it";
    EXPECT_EQ(sent[h], 0x05);
    EXPECT_EQ(sent[h + 1], kPageLen);
    EXPECT_EQ(Bytes(sent.begin() + static_cast<std::ptrdiff_t>(h + 2), sent.begin() + static_cast<std::ptrdiff_t>(h + 16)),
              c.Composed);
    EXPECT_EQ(sent[h + 16], 0x00) << "catalogue number and the rest are cleared";
    EXPECT_EQ(sent[h + kPageLen], 0xEE) << "the page's last two bytes stay the drive's";
    EXPECT_EQ(sent[h + kPageLen + 1], 0xEE);
    EXPECT_EQ(Bytes(dev.ModePage05.begin() + 2, dev.ModePage05.begin() + 16), c.Composed);
  }
}

//                               WT    TM    DB    LS    R6    IA    SF    R9    packet size   pause
INSTANTIATE_TEST_SUITE_P(
    Media, WriteParameters,
    testing::Values(
        TWriteParametersCase{"CDR", mtCDR, false, false, false,
                             {0x41, 0x04, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"CDRMultisession", mtCDR, false, true, true,
                             {0x41, 0xC4, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"CDRWTestWriteKeepsMultisession", mtCDRW, true, false, false,
                             {0x51, 0xC4, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"DDCDR", mtDDCDR, false, false, false,
                             {0x42, 0x05, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"DVDRAlwaysMultisessionFixedPackets", mtDVDR, false, false, false,
                             {0x60, 0xE5, 0x08, 16, 0, 0, 0, 0, 0, 0, 0, 16, 0x00, 0x96}},
        TWriteParametersCase{"DVDRWSequential", mtDVDRWSR, false, false, false,
                             {0x60, 0xC5, 0x08, 16, 0, 0, 0, 0, 0, 0, 0, 16, 0x00, 0x96}},
        TWriteParametersCase{"DVDRWRestrictedOverwriteTestWrite", mtDVDRWRO, true, false, false,
                             {0x70, 0xC5, 0x08, 16, 0, 0, 0, 0, 0, 0, 0, 16, 0x00, 0x96}},
        TWriteParametersCase{"DVDRW", mtDVDRW, false, false, false,
                             {0x40, 0x05, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"DVDPlusRW", mtDVDPLUSRW, false, true, false,
                             {0x62, 0xC4, 0x08, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"DVDPlusRMultisession", mtDVDPLUSR, false, true, false,
                             {0x62, 0xE4, 0x08, 16, 0, 0, 0, 0, 0, 0, 0, 16, 0x00, 0x96}},
        TWriteParametersCase{"DVDPlusRSingleSession", mtDVDPLUSR, false, false, false,
                             {0x62, 0x04, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"DVDPlusRDualLayerTestWrite", mtDVDPLUSRDL, true, false, false,
                             {0x72, 0x04, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}},
        TWriteParametersCase{"BDRETestWriteMultisession", mtBDRE, true, true, true,
                             {0x51, 0xC4, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x96}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(WriteParametersFailure, NothingIsSelectedWhenThePageCannotBeRead) {
  TFakeDrive drive;
  drive.Replies[0x5A] = {{}, 0x24};
  EXPECT_FALSE(SetWriteParameters(drive.Device(), false, true, false, mtCDR));
  EXPECT_TRUE(drive.SentWith(0x55).empty());
  drive.Replies[0x5A] = {test::ModeSenseReply({0x2A, 0x02, 0, 0})};
  EXPECT_FALSE(SetWriteParameters(drive.Device(), false, true, false, mtCDR)) << "another page";
  EXPECT_TRUE(drive.SentWith(0x55).empty());
}

TEST(WriteParametersFailure, PageLengthPastTheReplyIsClamped) {
  TFakeDrive drive;
  Bytes page(20, 0);
  page[0] = 0x05;
  page[1] = 0xFF;
  drive.Replies[0x5A] = {test::ModeSenseReply(page)};
  ASSERT_TRUE(SetWriteParameters(drive.Device(), false, true, false, mtCDR));
  const auto selects = drive.SentWith(0x55);
  ASSERT_EQ(selects.size(), 1u);
  EXPECT_EQ(selects[0].Out.size(), 8u + 20u) << "no byte beyond what the drive returned";
}

TEST(Commands, CdbsOfTheSpeedAndCloseCommands) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  SetCDSpeed(dev, 0, 0);
  SetCDSpeed(dev, 0, 71928);
  SetCDSpeed(dev, 1385, 5540);
  CloseTrackSession(dev, false, 2, 300);
  CloseTrackOrSession(dev, true, true, 0);
  const auto speeds = drive.SentWith(0xBB);
  ASSERT_EQ(speeds.size(), 3u);
  const auto field = [](const test::TSentCommand& c, std::size_t at) { return c.Cdb[at] << 8 | c.Cdb[at + 1]; };
  EXPECT_EQ(field(speeds[0], 2), 0xFFFF);
  EXPECT_EQ(field(speeds[0], 4), 0xFFFF);
  EXPECT_EQ(field(speeds[1], 4), 0xFFFF) << "a BD speed beyond the field asks for the maximum";
  EXPECT_EQ(field(speeds[2], 2), 1385);
  EXPECT_EQ(field(speeds[2], 4), 5540);
  EXPECT_EQ(speeds[2].CdbLength, 12);
  const auto closes = drive.SentWith(0x5B);
  ASSERT_EQ(closes.size(), 2u);
  EXPECT_EQ(closes[0].Cdb[2], 2);
  EXPECT_EQ(field(closes[0], 4), 300);
  EXPECT_EQ(closes[1].Cdb[1], 1);
  EXPECT_EQ(closes[1].Cdb[2], 1);
}

TEST(Commands, TimeStampIsAsciiDigits) {
  TFakeDrive drive;
  ASSERT_TRUE(SendTimeStamp(drive.Device()));
  const auto sent = drive.SentWith(0xBF);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Cdb[7], 0x0F);
  ASSERT_EQ(sent[0].Out.size(), 22u);
  EXPECT_EQ(Bytes(sent[0].Out.begin(), sent[0].Out.begin() + 8), (Bytes{0x00, 0x14, 0, 0, 0, 0, 0, 0}));
  for (std::size_t i = 8; i < 22; ++i) EXPECT_TRUE(std::isdigit(sent[0].Out[i])) << i;
}

TEST(Commands, WriteRefusesABufferShorterThanItsLength) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  EXPECT_FALSE(Write10(dev, 0, 32, kPacketBytes, dev.tmpBuffer));
  EXPECT_TRUE(drive.Sent.empty()) << "the record's buffer is one byte short of a packet";
}

}  // namespace
}  // namespace kilnor
