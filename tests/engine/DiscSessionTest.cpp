// Where a session of the disc starts: its track is asked for by session
// number; a drive that cannot answer that is asked for the track of that
// number, which counts only when the drive says it belongs to the session.
#include <gtest/gtest.h>

#include "engine/DiscSectors.h"
#include "tests/device/FakeDrive.h"

namespace kilnor {
namespace {

constexpr std::uint8_t kInvalidField = 0x24;
constexpr std::uint8_t kBlankTrack = 0x40;

// A READ TRACK INFORMATION reply of a track that starts at Start and
// belongs to Session.
test::TFakeReply TrackOf(std::uint32_t Start, std::uint8_t Session, std::uint8_t Info2 = 0) {
  std::vector<std::uint8_t> reply = test::TrackInformationReply(Start, 0, 5000, Info2);
  reply[3] = Session;
  return {reply};
}

struct TLocateCase {
  const char* Name;
  test::TFakeReply BySession;  // answer to address type 10b
  test::TFakeReply ByTrack;    // answer to address type 01b
  std::uint16_t Asked;         // 0: the last session
  std::int64_t FirstCandidate; // -1: refused
  const char* Reason;
};

const TLocateCase kCases[] = {
    {"BySession", TrackOf(30000, 3), {{}, kInvalidField}, 0, 30016, ""},
    {"ChosenSession", TrackOf(12000, 2), {{}, kInvalidField}, 2, 12016, ""},
    {"TrackOfTheSameSession", {{}, kInvalidField}, TrackOf(30000, 3), 3, 30016, ""},
    {"TrackOfAnotherSession", {{}, kInvalidField}, TrackOf(20000, 2), 3, -1,
     "the drive does not tell where session 3 starts"},
    {"NeitherAnswers", {{}, kInvalidField}, {{}, kInvalidField}, 0, -1, "does not tell where session 3 starts"},
    {"BlankTrack", TrackOf(30000, 3, kBlankTrack), {{}, kInvalidField}, 0, -1, "session 3 holds no data"},
    {"SessionBeyondTheDisc", TrackOf(30000, 3), {{}, kInvalidField}, 4, -1, "holds 3 session(s), not 4"},
};

class LocateDiscSessionTest : public testing::TestWithParam<TLocateCase> {};

TEST_P(LocateDiscSessionTest, FindsTheTrackOfTheSession) {
  const TLocateCase& c = GetParam();
  test::TFakeDrive drive;
  drive.Replies[0x46] = {test::ConfigurationReply(0x0009)};
  drive.Replies[0x51] = {test::DiscInformationReply(0x0E, 3, 3)};
  drive.Answer = [&](const test::TSentCommand& command) -> test::TFakeReply {
    if (command.Code() != 0x52) return drive.Replies[command.Code()];
    return (command.Cdb[1] & 0x03) == 0x02 ? c.BySession : c.ByTrack;
  };
  std::string reason;
  const std::optional<TDiscSession> session = LocateDiscSession(drive.Device(), c.Asked, reason);
  if (c.FirstCandidate < 0) {
    EXPECT_FALSE(session);
    EXPECT_NE(reason.find(c.Reason), std::string::npos) << reason;
    return;
  }
  ASSERT_TRUE(session) << reason;
  EXPECT_EQ(session->Number, c.Asked != 0 ? c.Asked : 3);
  EXPECT_EQ(session->Place.FirstCandidate, c.FirstCandidate);
  EXPECT_EQ(session->Place.Candidates, 16u);
  EXPECT_EQ(session->Place.End, c.FirstCandidate - 16 + 5000);
  const std::vector<test::TSentCommand> asked = drive.SentWith(0x52);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked[0].Cdb[1] & 0x03, 0x02) << "the first question names the session";
  EXPECT_EQ(asked[0].Cdb[5], session->Number);
}

INSTANTIATE_TEST_SUITE_P(Cases, LocateDiscSessionTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<TLocateCase>& info) { return info.param.Name; });

}  // namespace
}  // namespace kilnor
