// Each writable medium through its life: blank, written, appended, closed,
// erased; all through command blocks.
#include "EmulatorTestSupport.h"

namespace velmor::emu::test {
namespace {

enum class TErase { Blank, Format, Refused };

struct TLifeCycle {
  TMediumKind Kind;
  TErase Erase;
  std::uint8_t FormatType;  // for TErase::Format
};

class LifeCycleTest : public TDriveTest, public ::testing::WithParamInterface<TLifeCycle> {
 protected:
  [[nodiscard]] bool PageFive() const { return Traits(GetParam().Kind).WritesByPageFive; }
  [[nodiscard]] std::uint8_t WriteType() const { return Traits(GetParam().Kind).Family == TFamily::Cd ? 1 : 0; }

  // Closes the session the way the medium's standard says: CD and DVD-R/-RW
  // by the multi-session field, the others by the close function.
  void CloseSession(bool Finalise) {
    ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
    if (PageFive()) {
      SetWriteParameters(WriteType(), false, !Finalise);
      ASSERT_TRUE(Run(TCdb::Close(2, 0)).Good());
    } else {
      ASSERT_TRUE(Run(TCdb::Close(Finalise ? 6 : 2, 0)).Good());
    }
  }
};

class SequentialLifeCycleTest : public LifeCycleTest {};
class OverwriteLifeCycleTest : public LifeCycleTest {};

TEST_P(SequentialLifeCycleTest, BlankWrittenAppendedClosedErased) {
  Insert(GetParam().Kind);
  if (PageFive()) SetWriteParameters(WriteType(), false, true);

  // Blank: one empty session and the invisible track 1 at block 0.
  TDiscInfo blank = DiscInfo();
  EXPECT_EQ(blank.DiscStatus, 0);
  EXPECT_EQ(blank.LastSessionState, 0);
  EXPECT_EQ(blank.Sessions, 1);
  EXPECT_EQ(blank.LastTrackLastSession, 1);
  auto invisible = TrackInfo(255);
  ASSERT_TRUE(invisible);
  EXPECT_TRUE(invisible->Blank);
  EXPECT_EQ(invisible->Number, 1u);
  EXPECT_EQ(invisible->NextWritable, 0u);
  EXPECT_TRUE(invisible->NextWritableValid);
  EXPECT_TRUE(In(TCdb::Read10(0, 1)).Failed(sense::LbaOutOfRange()));

  // Written: the first session.
  EXPECT_TRUE(Write(1, 32).Failed(sense::InvalidAddressForWrite()));
  ASSERT_TRUE(Write(0, 32).Good());
  ASSERT_TRUE(Write(32, 32).Good());
  ASSERT_NO_FATAL_FAILURE(CloseSession(false));
  TDiscInfo appendable = DiscInfo();
  EXPECT_EQ(appendable.DiscStatus, 1);
  EXPECT_EQ(appendable.LastSessionState, 0);
  EXPECT_EQ(appendable.Sessions, 2);
  EXPECT_EQ(appendable.FirstTrackLastSession, 2);
  EXPECT_EQ(appendable.LastTrackLastSession, 2);
  auto next = TrackInfo(2);
  ASSERT_TRUE(next);
  EXPECT_GT(next->NextWritable, 64u) << "the next session starts after the lead-out of the first";
  EXPECT_EQ(next->Session, 2u);

  // Appended: a second session, then the disc is finalised.
  EXPECT_TRUE(Write(64, 32).Failed(sense::InvalidAddressForWrite()));
  const std::uint32_t second = next->NextWritable;
  ASSERT_TRUE(Write(second, 32, 2).Good());
  ASSERT_NO_FATAL_FAILURE(CloseSession(true));
  TDiscInfo closed = DiscInfo();
  EXPECT_EQ(closed.DiscStatus, 2);
  EXPECT_EQ(closed.LastSessionState, 3);
  EXPECT_EQ(closed.Sessions, 2);
  EXPECT_FALSE(TrackInfo(255));
  EXPECT_TRUE(Write(second + 32, 32).Failed(sense::InvalidAddressForWrite()));
  EXPECT_TRUE(ReadsBack(0, 64, 1));
  EXPECT_TRUE(ReadsBack(second, 32, 2));
  EXPECT_TRUE(In(TCdb::Read10(second + 32, 1)).Failed(sense::LbaOutOfRange()));
  EXPECT_FALSE(In(TCdb::Read10(64, 1)).Good()) << "the gap between sessions holds no data";

  // Erased.
  TAnswer blankCommand = Run(TCdb::Blank(true));
  if (GetParam().Erase == TErase::Refused) {
    EXPECT_TRUE(blankCommand.Failed(sense::CannotWriteIncompatible()));
    EXPECT_EQ(DiscInfo().DiscStatus, 2);
    return;
  }
  ASSERT_TRUE(blankCommand.Good());
  EXPECT_EQ(PollsUntilReady(), 2);
  EXPECT_EQ(DiscInfo().DiscStatus, 0);
  EXPECT_FALSE(In(TCdb::Read10(0, 1)).Good());
  ASSERT_TRUE(Write(0, 32, 3).Good());
  EXPECT_TRUE(ReadsBack(0, 32, 3));
}

INSTANTIATE_TEST_SUITE_P(Media, SequentialLifeCycleTest,
                         ::testing::Values(TLifeCycle{TMediumKind::CdR, TErase::Refused, 0},
                                           TLifeCycle{TMediumKind::CdRw, TErase::Blank, 0},
                                           TLifeCycle{TMediumKind::DvdR, TErase::Refused, 0},
                                           TLifeCycle{TMediumKind::DvdRwSequential, TErase::Blank, 0},
                                           TLifeCycle{TMediumKind::DvdPlusR, TErase::Refused, 0},
                                           TLifeCycle{TMediumKind::DvdPlusRDl, TErase::Refused, 0},
                                           TLifeCycle{TMediumKind::BdR, TErase::Refused, 0},
                                           TLifeCycle{TMediumKind::HdDvdR, TErase::Refused, 0}),
                         TKindCaseName());

TEST_P(OverwriteLifeCycleTest, BlankWrittenOverwrittenErased) {
  Insert(GetParam().Kind);
  const TMediumKind kind = GetParam().Kind;

  // Blank: a new DVD+RW is unformatted, the others come formatted.
  EXPECT_EQ(DiscInfo().DiscStatus, kind == TMediumKind::DvdPlusRw ? 0 : kind == TMediumKind::DvdRwRestricted ? 2 : 3);
  EXPECT_TRUE(DiscInfo().Erasable);

  // Written anywhere, then overwritten.
  ASSERT_TRUE(Write(0, 32, 1).Good());
  ASSERT_TRUE(Write(32, 32, 2).Good());
  ASSERT_TRUE(Write(0, 32, 3).Good());
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  ASSERT_TRUE(Run(TCdb::Close(kind == TMediumKind::DvdPlusRw ? 3 : 1, 1)).Good());
  EXPECT_TRUE(ReadsBack(0, 32, 3));
  EXPECT_TRUE(ReadsBack(32, 32, 2));
  EXPECT_NE(DiscInfo().DiscStatus, 0);
  EXPECT_TRUE(Write(64, 32, 4).Good()) << "closing leaves an overwritable medium writable";

  // Erased.
  if (GetParam().Erase == TErase::Blank) {
    ASSERT_TRUE(Run(TCdb::Blank(false)).Good());
    EXPECT_EQ(PollsUntilReady(), 2);
    EXPECT_EQ(DiscInfo().DiscStatus, 0);
    return;
  }
  TBytes list{0x00, 0x82, 0x00, 0x08, 0, 0, 0, 0, static_cast<std::uint8_t>(GetParam().FormatType << 2), 0, 0, 0};
  ASSERT_TRUE(Out(TCdb::FormatUnit(), list).Good());
  EXPECT_EQ(PollsUntilReady(), 2);
  TAnswer read = In(TCdb::Read10(32, 1));
  ASSERT_TRUE(read.Good());
  EXPECT_EQ(read.Data, TBytes(kBlockSize, 0)) << "a full format leaves zeros";
}

INSTANTIATE_TEST_SUITE_P(Media, OverwriteLifeCycleTest,
                         ::testing::Values(TLifeCycle{TMediumKind::DvdRam, TErase::Format, 0x00},
                                           TLifeCycle{TMediumKind::BdRe, TErase::Format, 0x31},
                                           TLifeCycle{TMediumKind::HdDvdRam, TErase::Format, 0x00},
                                           TLifeCycle{TMediumKind::DvdRwRestricted, TErase::Blank, 0}),
                         TKindCaseName());

}  // namespace
}  // namespace velmor::emu::test
