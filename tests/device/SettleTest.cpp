// A drive getting over a medium change, a reset or a spin-up, behind the
// engine's transport: queries are sent again until it answers, a bounded
// number of times; transfers and the commands that record, close or erase
// see its first answer. Waits run on a fake clock.
#include <gtest/gtest.h>

#include <functional>

#include "engine/device/Commands.h"
#include "engine/device/Settle.h"
#include "engine/platform/Clock.h"
#include "tests/device/FakeDrive.h"

namespace kilnor {
namespace {

using namespace std::chrono_literals;
using test::TFakeDrive;
using test::TFakeReply;
using test::TSentCommand;

struct TCommand {
  const char* Name;
  std::uint8_t Code;
  std::function<bool(TSCSIDevice&)> Send;
};

const TCommand kQueries[] = {
    {"TEST UNIT READY", 0x00, [](TSCSIDevice& d) { return TestUnitReady(d); }},
    {"INQUIRY", 0x12,
     [](TSCSIDevice& d) {
       std::array<std::uint8_t, kInquiryLength> reply{};
       return Inquiry(d, reply);
     }},
    {"READ DISC INFORMATION", 0x51,
     [](TSCSIDevice& d) {
       TDiscInformation info;
       return ReadDiscInformation(d, info, 34);
     }},
    {"SET CD SPEED", 0xBB, [](TSCSIDevice& d) { return SetCDSpeed(d, 0, 0); }},
    {"START STOP UNIT", 0x1B, [](TSCSIDevice& d) { return LoadMedium(d, true); }},
};

const TCommand kSentOnce[] = {
    {"WRITE (10)", 0x2A,
     [](TSCSIDevice& d) {
       const std::vector<std::uint8_t> data(kSectorBytes);
       return Write10(d, 0, 1, kSectorBytes, data);
     }},
    {"READ (10)", 0x28,
     [](TSCSIDevice& d) {
       std::vector<std::uint8_t> data(kSectorBytes);
       return Read10(d, 0, 1, data);
     }},
    {"SYNCHRONIZE CACHE", 0x35, [](TSCSIDevice& d) { return SynchronizeCache(d, false); }},
    {"CLOSE TRACK/SESSION", 0x5B, [](TSCSIDevice& d) { return CloseTrackSession(d, false, 2, 0); }},
    {"BLANK", 0xA1, [](TSCSIDevice& d) { return BlankMedium(d, true); }},
    {"FORMAT UNIT", 0x04,
     [](TSCSIDevice& d) {
       const std::uint8_t list[12] = {0x00, 0x82, 0x00, 0x08};
       return FormatUnit(d, 0x11, list);
     }},
    {"RESERVE TRACK", 0x53, [](TSCSIDevice& d) { return ReserveTrack(d, 32); }},
};

struct TPassing {
  const char* Name;
  TFakeReply Answer;
  std::chrono::seconds PauseEach;
};

const TPassing kPassing[] = {
    {"medium changed 6/28/00", {{}, 0x28, 0x00, 0x6}, 0s},
    {"power on 6/29/00", {{}, 0x29, 0x00, 0x6}, 0s},
    {"bus reset 6/29/02", {{}, 0x29, 0x02, 0x6}, 0s},
    {"becoming ready 2/04/01", {{}, 0x04, 0x01, 0x2}, kBecomingReadyPause},
};

class Settle : public testing::Test {
 protected:
  // The first Times sends of Code meet Answer; every other command succeeds.
  void Answer(std::uint8_t Code, const TFakeReply& With, int Times) {
    drive.Answer = [=, this](const TSentCommand& command) -> TFakeReply {
      if (command.Code() == Code && static_cast<int>(drive.SentWith(Code).size()) <= Times) return With;
      return {std::vector<std::uint8_t>(64, 0x20)};
    };
  }

  TFakeDrive drive;
  TFakeClock clock;
  TClockOverride useClock{clock};
};

TEST_F(Settle, QueriesAreSentAgainUntilTheDriveAnswers) {
  for (const TCommand& query : kQueries)
    for (const TPassing& passing : kPassing) {
      SCOPED_TRACE(std::string(query.Name) + ", " + passing.Name);
      drive.Sent.clear();
      drive.Device().DeviceError = 0x3A00;  // an earlier, real failure
      const auto before = clock.elapsed();
      Answer(query.Code, passing.Answer, 3);
      EXPECT_TRUE(query.Send(drive.Device()));
      EXPECT_EQ(drive.SentWith(query.Code).size(), 4u);
      EXPECT_EQ(clock.elapsed() - before, 3 * passing.PauseEach);
      EXPECT_EQ(drive.Device().DeviceError, 0x3A00) << "an answer that passed is no failure";
    }
}

TEST_F(Settle, ADriveThatNeverSettlesIsReportedAfterBoundedAttempts) {
  for (const TPassing& passing : kPassing) {
    SCOPED_TRACE(passing.Name);
    drive.Sent.clear();
    const auto before = clock.elapsed();
    Answer(0x00, passing.Answer, kSettleAttempts * 2);
    EXPECT_FALSE(TestUnitReady(drive.Device()));
    EXPECT_EQ(drive.SentWith(0x00).size(), static_cast<std::size_t>(kSettleAttempts));
    EXPECT_EQ(clock.elapsed() - before, (kSettleAttempts - 1) * passing.PauseEach);
    EXPECT_EQ(drive.Device().DeviceError, passing.Answer.Asc << 8 | passing.Answer.Ascq);
    EXPECT_EQ(drive.Device().DeviceErrorKey, passing.Answer.Key);
  }
}

TEST_F(Settle, OtherFailuresAreReportedAtOnce) {
  const TFakeReply others[] = {{{}, 0x3A, 0x01, 0x2}, {{}, 0x04, 0x04, 0x2}, {{}, 0x24, 0x00, 0x5},
                               {{}, 0x2A, 0x01, 0x6}};
  for (const TFakeReply& other : others) {
    SCOPED_TRACE(other.Asc);
    drive.Sent.clear();
    Answer(0x51, other, 1);
    TDiscInformation info;
    EXPECT_FALSE(ReadDiscInformation(drive.Device(), info, 34));
    EXPECT_EQ(drive.SentWith(0x51).size(), 1u);
  }
}

// A reset in the middle of a recording loses what the drive held: the
// caller must see it, not a repeated command that succeeds.
TEST_F(Settle, RecordingCommandsSeeTheFirstAnswer) {
  for (const TCommand& command : kSentOnce)
    for (const TPassing& passing : kPassing) {
      SCOPED_TRACE(std::string(command.Name) + ", " + passing.Name);
      drive.Sent.clear();
      Answer(command.Code, passing.Answer, 1);
      EXPECT_FALSE(command.Send(drive.Device()));
      EXPECT_EQ(drive.SentWith(command.Code).size(), 1u);
      EXPECT_EQ(drive.Device().DeviceError, passing.Answer.Asc << 8 | passing.Answer.Ascq);
    }
}

}  // namespace
}  // namespace kilnor
