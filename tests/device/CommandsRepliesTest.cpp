// Replies are read only as far as the drive returned them and as their own
// length fields say; numbers are never cut to a byte or wrapped.
#include <gtest/gtest.h>

#include "engine/device/Commands.h"
#include "engine/device/Media.h"
#include "engine/device/Speeds.h"
#include "tests/device/FakeDrive.h"

namespace kilnor {
namespace {

using test::TFakeDrive;
using test::TFakeReply;
using test::TSentCommand;

constexpr std::uint8_t kInvalidCommand = 0x20;
constexpr std::uint8_t kInvalidField = 0x24;

std::vector<std::uint8_t> Atip(std::uint8_t DiscTypeByte) {
  std::vector<std::uint8_t> reply(28, 0);
  test::PutBE16(reply, 0, 26);
  reply[6] = DiscTypeByte;
  return reply;
}

struct TDetectionCase {
  const char* Name;
  TFakeReply Atip;
  TFakeReply DiscInformation;
  TFakeReply UnitReady;
  TMedium Expected;
};

class CDDetection : public testing::TestWithParam<TDetectionCase> {};

// A CD drive without GET CONFIGURATION: the ATIP decides, and only an ATIP
// that carries its descriptor.
TEST_P(CDDetection, FollowsTheFallbackChain) {
  TFakeDrive drive;
  drive.Replies[0x46] = {{}, kInvalidCommand};
  drive.Replies[0x43] = GetParam().Atip;
  drive.Replies[0x51] = GetParam().DiscInformation;
  drive.Replies[0x00] = GetParam().UnitReady;
  EXPECT_EQ(DiscIs(drive.Device()), GetParam().Expected);
}

// A reply of Data, filled in after it is made: GCC 12 at -O3 wrongly warns
// that a reply made in one piece from a returned buffer may be unset.
TFakeReply ReplyOf(std::vector<std::uint8_t> Data) {
  TFakeReply reply;
  reply.Data = std::move(Data);
  return reply;
}

const TFakeReply kFails{{}, kInvalidField};
const TFakeReply kHeaderOnlyAtip{{0x00, 0x02, 0x00, 0x00}};

INSTANTIATE_TEST_SUITE_P(
    Cases, CDDetection,
    testing::Values(TDetectionCase{"Rewritable", ReplyOf(Atip(0xC0)), kFails, kFails, mtCDRW},
                    TDetectionCase{"Recordable", ReplyOf(Atip(0x80)), kFails, kFails, mtCDR},
                    TDetectionCase{"Pressed", ReplyOf(Atip(0x00)), kFails, kFails, mtCDROM},
                    TDetectionCase{"HeaderOnlyAtipAsksDiscInformation", kHeaderOnlyAtip,
                                   ReplyOf(test::DiscInformationReply(0x1E, 1, 1)), kFails, mtCDRW},
                    TDetectionCase{"NoAtipNoDiscInformationReadyUnit", kHeaderOnlyAtip, kFails, {},
                                   mtCDROM},
                    TDetectionCase{"NothingAnswers", kFails, kFails, kFails, mtUNKNOWN}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(Replies, FiveByteInquiryLeavesIdentificationEmpty) {
  TFakeDrive drive;
  TSCSIDevice& dev = drive.Device();
  dev.Devices[0].DriveLetter = 'D';
  drive.Replies[0x12] = {{0x05, 0x80, 0x05, 0x32, 0x1F}};
  EXPECT_TRUE(SelectDevice(dev, 0));
  EXPECT_STREQ(dev.Vendor, "");
  EXPECT_STREQ(dev.ProductID, "");
}

TEST(Replies, CapabilitiesPageLongerThanReturnedKeepsOnlyReturnedFields) {
  TFakeDrive drive;
  // PageLen FFh, but only 12 bytes of the page arrive.
  const std::vector<std::uint8_t> page{0x2A, 0xFF, 0x3F, 0x37, 0x80, 0, 0, 0, 0x1B, 0x90, 0, 0};
  drive.Replies[0x5A] = {test::ModeSenseReply(page)};
  TSCSIDevice& dev = drive.Device();
  ASSERT_TRUE(ReadCapabilities(dev));
  EXPECT_EQ(dev.ModePage2A.MaxReadSpeed, 0x1B90);
  EXPECT_EQ(dev.ModePage2A.DeviceMaxReadSpeed, 0x1B90);
  EXPECT_EQ(dev.CurWriteSpeed, 0) << "not returned, so not read";
  EXPECT_EQ(dev.ModePage2A.BufferSize, 0);
  EXPECT_TRUE(DeviceCan(dev, DC_READ_DVDRAM));
  EXPECT_TRUE(DeviceCan(dev, DC_WRITE_DVDR));
  EXPECT_TRUE(DeviceCan(dev, DC_UNDERRUNPROTECTION));
  EXPECT_TRUE(DeviceIsBurner(dev));
}

TEST(Replies, ModePageFoundAfterAnnouncedBlockDescriptorsWithMaskedCode) {
  const std::vector<std::uint8_t> page{0x80 | 0x2A, 0x04, 1, 2, 3, 4};
  const std::vector<std::uint8_t> reply = test::ModeSenseReply(page, 8);
  TModePageSpan where;
  ASSERT_TRUE(LocateModePage(reply, 0x2A, where));
  EXPECT_EQ(where.Offset, 16u);
  EXPECT_EQ(where.Length, 6u);
  EXPECT_FALSE(LocateModePage(std::span(reply).first(17), 0x2A, where)) << "page header cut off";
  EXPECT_FALSE(LocateModePage(reply, 0x05, where));
  std::vector<std::uint8_t> hugeDescriptor = reply;
  test::PutBE16(hugeDescriptor, 6, 0xFFF0);
  EXPECT_FALSE(LocateModePage(hugeDescriptor, 0x2A, where));
}

TEST(Replies, CapacityListOfOneDescriptorIgnoresBytesPastIt) {
  TFakeDrive drive;
  // List length 8: only the current capacity. The bytes after it look like
  // a full-format descriptor but are not part of the list.
  drive.Replies[0x23] = {{0, 0, 0, 8, 0x00, 0x23, 0x05, 0x40, 0x02, 0x00, 0x08, 0x00,
                          0x00, 0x00, 0x09, 0x99, 0x00, 0x00, 0x08, 0x00}};
  EXPECT_EQ(ReadFormatCapacities(drive.Device()), 0x230540u);
}

TEST(Replies, FullFormatDescriptorOf2048ByteBlocksIsPreferred) {
  TFakeDrive drive;
  drive.Replies[0x23] = {{0, 0, 0, 16, 0x00, 0x23, 0x05, 0x40, 0x02, 0x00, 0x08, 0x00,
                          0x00, 0x22, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00}};
  EXPECT_EQ(ReadFormatCapacities(drive.Device()), 0x220000u);
  drive.Replies[0x23] = {{0, 0, 0, 0}};
  EXPECT_EQ(ReadFormatCapacities(drive.Device()), 0u) << "an empty list names no capacity";
}

// A disc with more than 255 tracks and sessions: the high bytes count, and
// the track after the last one is asked for in full.
TEST(Replies, TrackAndSessionNumbersBeyond255) {
  TFakeDrive drive;
  drive.Replies[0x46] = {test::ConfigurationReply(0x0041)};
  drive.Replies[0x51] = {test::DiscInformationReply(0x0F, 261, 300)};
  drive.Answer = [&](const TSentCommand& command) -> TFakeReply {
    if (command.Code() == 0x52 && command.Cdb[5] == 0xFF && command.Cdb[4] == 0) return {{}, kInvalidField};
    if (command.Code() == 0x52) return {test::TrackInformationReply(12345, 777, 777)};
    return drive.Replies[command.Code()];
  };
  TSCSIDevice& dev = drive.Device();
  EXPECT_EQ(SessionsOnDisc(dev), 261);
  EXPECT_EQ(LastTrackNumber(dev), 300);
  drive.Sent.clear();
  EXPECT_TRUE(Writable(dev));
  const std::vector<TSentCommand> tracks = drive.SentWith(0x52);
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ((std::array<std::uint8_t, 4>{tracks[1].Cdb[2], tracks[1].Cdb[3], tracks[1].Cdb[4], tracks[1].Cdb[5]}),
            (std::array<std::uint8_t, 4>{0, 0, 0x01, 0x2D}));
  EXPECT_EQ(tracks[1].Cdb[1], 0x01);
}

// A session's track is asked for by session number (address type 10b),
// never by a track number assumed equal to it.
TEST(Replies, TrackOfASessionIsAskedBySessionNumber) {
  TFakeDrive drive;
  drive.Replies[0x52] = {test::TrackInformationReply(23456, 100, 100)};
  EXPECT_TRUE(ReadTrackInformationOfSession(drive.Device(), 258));
  const std::vector<TSentCommand> sent = drive.SentWith(0x52);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].Cdb[1] & 0x03, 0x02);
  EXPECT_EQ((std::array<std::uint8_t, 4>{sent[0].Cdb[2], sent[0].Cdb[3], sent[0].Cdb[4], sent[0].Cdb[5]}),
            (std::array<std::uint8_t, 4>{0, 0, 0x01, 0x02}));
  EXPECT_EQ(drive.Device().TrackInformation.TrackStartAddress, 23456u);
}

TEST(Replies, EmptyLastSessionOfABlankDiscDoesNotWrap) {
  TFakeDrive drive;
  drive.Replies[0x51] = {test::DiscInformationReply(0x00, 0, 1)};
  EXPECT_EQ(SessionsOnDisc(drive.Device()), 0);
  drive.Replies[0x51] = {test::DiscInformationReply(0x01, 3, 3)};
  EXPECT_EQ(SessionsOnDisc(drive.Device()), 2) << "an appendable disc counts its closed sessions";
  EXPECT_EQ(SessionsOnDisc(drive.Device()), 2) << "each call reads the disc again";
}

TEST(Replies, ShortTrackInformationIsAFailure) {
  TFakeDrive drive;
  std::vector<std::uint8_t> reply = test::TrackInformationReply(0, 100, 100);
  reply.resize(20);
  drive.Replies[0x52] = {reply};
  EXPECT_FALSE(ReadTrackInformation(drive.Device(), 1));
  EXPECT_EQ(drive.Device().TrackInformation.FreeBlocks, 0u);
  drive.Replies[0x52] = {test::TrackInformationReply(0, 100, 100)};
  test::PutBE16(drive.Replies[0x52].Data, 0, 10);
  EXPECT_FALSE(ReadTrackInformation(drive.Device(), 1)) << "its own length says it is short";
}

// GET CONFIGURATION without a medium: each probe reads only its own reply,
// so a DVD-RW bit seen by an earlier probe cannot leak into a later one, nor
// a descriptor past the reply's data length.
TEST(Replies, FeatureProbesReadOnlyTheirOwnReply) {
  TFakeDrive drive;
  drive.Answer = [](const TSentCommand& command) -> TFakeReply {
    const std::uint16_t feature = static_cast<std::uint16_t>(command.Cdb[2] << 8 | command.Cdb[3]);
    if (command.Code() == 0x5A) return {test::ModeSenseReply({0x2A, 0x14, 0, 0, 0, 0})};
    if (command.Code() != 0x46) return {};
    if (feature == 0x002A) return {test::ConfigurationReply(0, 0x002A, 0x03)};
    std::vector<std::uint8_t> stale = test::ConfigurationReply(0, 0x002F, 0x02);
    test::PutBE32(stale, 0, 4);  // header only, whatever else is in the buffer
    return {stale};
  };
  TSCSIDevice& dev = drive.Device();
  ASSERT_TRUE(ReadCapabilities(dev));
  EXPECT_TRUE(DeviceCan(dev, DC_WRITE_DVDPLUSRW));
  EXPECT_FALSE(DeviceCan(dev, DC_WRITE_DVDRW));
  EXPECT_FALSE(DeviceCan(dev, DC_READ_DVDPLUSRDL)) << "no medium does not stand for dual layer";
  EXPECT_TRUE(DeviceCan(dev, DC_READ_BDROM)) << "no medium: BD reading is assumed";
  EXPECT_TRUE(DeviceCan(dev, DC_WRITE_HDDVDRAM));
  EXPECT_EQ(DiscIs(dev), mtUNKNOWN);
}

TEST(Replies, UnknownCapabilityNumbersAreFalse) {
  TFakeDrive drive;
  std::memset(&drive.Device().dc, 1, sizeof drive.Device().dc);
  for (std::uint8_t id : {0, 15, 20, 33, 43, 71, 74, 255}) EXPECT_FALSE(DeviceCan(drive.Device(), id)) << int(id);
}

TEST(Replies, DifferencesClampAtZero) {
  TFakeDrive drive;
  drive.Replies[0x46] = {test::ConfigurationReply(0x0013)};  // DVD-RW restricted overwrite
  drive.Replies[0x51] = {test::DiscInformationReply(0x0E, 1, 1)};
  drive.Replies[0x52] = {test::TrackInformationReply(0, 0, 5000)};
  drive.Replies[0x23] = {{0, 0, 0, 8, 0x00, 0x00, 0x03, 0xE8, 0x02, 0x00, 0x08, 0x00}};
  EXPECT_EQ(QueryFreeBlocks(drive.Device()), 0u) << "capacity 1000 below a track of 5000";

  TSCSIDevice& dev = drive.Device();
  dev.DeviceBufferSize = 1000;
  dev.DeviceBufferPosition = 4000;
  EXPECT_EQ(DeviceBufferFill(dev), 0u);
  dev.DeviceBufferPosition = 1000;
  EXPECT_EQ(DeviceBufferFill(dev), 0u) << "an empty buffer";
  dev.DeviceBufferPosition = 250;
  EXPECT_EQ(DeviceBufferFill(dev), 750u);
}

TEST(Replies, BufferCapacityKeepsOldValuesOnFailure) {
  TFakeDrive drive;
  std::vector<std::uint8_t> reply(12, 0);
  test::PutBE16(reply, 0, 10);
  test::PutBE32(reply, 4, 0x200000);
  test::PutBE32(reply, 8, 0x180000);
  drive.Replies[0x5C] = {reply};
  TSCSIDevice& dev = drive.Device();
  ASSERT_TRUE(ReadBufferCapacity(dev));
  EXPECT_EQ(DeviceBufferFill(dev), 0x80000u);
  drive.Replies[0x5C] = {{0, 2, 0, 0}};
  EXPECT_FALSE(ReadBufferCapacity(dev)) << "no buffer length in the reply";
  EXPECT_EQ(dev.DeviceBufferSize, 0x200000u);
}

}  // namespace
}  // namespace kilnor
