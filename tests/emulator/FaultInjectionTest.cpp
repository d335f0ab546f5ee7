// Armed faults fire in order and turn into the failures a drive reports.
#include "EmulatorTestSupport.h"

namespace velmor::emu::test {
namespace {

class FaultInjectionTest : public TDriveTest {
 protected:
  void SetUp() override { Insert(TMediumKind::DvdPlusR); }

  void Arm(TFaultType Type, std::optional<std::uint8_t> Opcode, std::uint32_t Count, std::uint32_t Lba = 0,
           TSense Sense = sense::BecomingReady()) {
    TFault fault;
    fault.Type = Type;
    fault.Opcode = Opcode;
    fault.Count = Count;
    fault.Lba = Lba;
    fault.Sense = Sense;
    Drive.ArmFault(fault);
  }
};

TEST_F(FaultInjectionTest, NthCommandOfAnOpcodeFailsWithTheGivenSense) {
  Arm(TFaultType::FailCommand, 0x2A, 3, 0, sense::Make(3, 0x0C, 0x00));
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good()) << "other opcodes do not count";
  EXPECT_TRUE(Write(0, 32).Good());
  EXPECT_TRUE(Write(32, 32).Good());
  EXPECT_TRUE(Write(64, 32).Failed(sense::Make(3, 0x0C, 0x00)));
  EXPECT_TRUE(Write(64, 32).Good()) << "the fault is consumed";
  EXPECT_TRUE(Drive.Faults().Armed().empty());
}

TEST_F(FaultInjectionTest, BusyForNPolls) {
  Arm(TFaultType::Busy, std::nullopt, 2);
  EXPECT_EQ(Run(TCdb::TestUnitReady()).Result.Status, kStatusBusy);
  EXPECT_EQ(Write(0, 32).Result.Status, kStatusBusy);
  EXPECT_TRUE(Write(0, 32).Good()) << "a busy write recorded nothing";
}

TEST_F(FaultInjectionTest, NotReadyForNPollsOfOneOpcode) {
  Arm(TFaultType::NotReady, 0x2A, 2, 0, sense::LongWriteInProgress());
  EXPECT_TRUE(Write(0, 32).Failed(sense::LongWriteInProgress()));
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good());
  EXPECT_TRUE(Write(0, 32).Failed(sense::LongWriteInProgress()));
  EXPECT_TRUE(Write(0, 32).Good());
}

TEST_F(FaultInjectionTest, MediumErrorOnTheWriteThatCoversTheBlock) {
  Arm(TFaultType::WriteError, std::nullopt, 1, 40);
  EXPECT_TRUE(Write(0, 32).Good());
  TAnswer failed = Write(32, 32);
  EXPECT_TRUE(failed.Failed(sense::WriteError()));
  EXPECT_EQ(failed.Result.Sense.Information, 40u);
  EXPECT_EQ(FixedSense(failed.Result.Sense)[0], 0xF0) << "information field valid";
  EXPECT_EQ(TrackInfo(1)->NextWritable, 32u) << "the failed write recorded nothing";
  EXPECT_TRUE(Write(32, 32).Good());
}

TEST_F(FaultInjectionTest, FullMediumAfterSomeBlocks) {
  Arm(TFaultType::MediumFull, std::nullopt, 64);
  EXPECT_TRUE(Write(0, 32).Good());
  EXPECT_TRUE(Write(32, 32).Good());
  EXPECT_TRUE(Write(64, 32).Failed(sense::EndOfUserArea()));
}

TEST_F(FaultInjectionTest, TrayEjectedMidBurnKeepsWhatWasWritten) {
  Arm(TFaultType::Eject, std::nullopt, 1);
  ASSERT_TRUE(Run(TCdb::PreventRemoval(true)).Good());
  EXPECT_TRUE(Write(0, 32).Good());
  EXPECT_TRUE(Write(32, 32).Failed(sense::NoMediumTrayOpen()));
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Failed(sense::NoMediumTrayOpen()));
  EXPECT_TRUE(Run(TCdb::SynchronizeCache()).Failed(sense::NoMediumTrayOpen()));
  ASSERT_TRUE(Run(TCdb::StartStop(true, true)).Good());
  EXPECT_TRUE(ReadsBack(0, 32));
  EXPECT_EQ(TrackInfo(255)->NextWritable, 32u) << "the track stays open after the reload";
}

TEST_F(FaultInjectionTest, PowerLossKeepsTheStateOfTheLastSynchronise) {
  Arm(TFaultType::PowerLoss, std::nullopt, 2);
  SetWriteParameters(2, false, true);
  ASSERT_TRUE(Run(TCdb::PreventRemoval(true)).Good());
  ASSERT_TRUE(Write(0, 32).Good());
  ASSERT_TRUE(Run(TCdb::SynchronizeCache()).Good());
  ASSERT_TRUE(Write(32, 32).Good());
  EXPECT_TRUE(Write(64, 32).Failed(sense::PowerOnReset()));
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good()) << "the reset was reported once";
  EXPECT_EQ(TrackInfo(255)->NextWritable, 32u) << "blocks after the synchronise are lost";
  EXPECT_TRUE(ReadsBack(0, 32));
  EXPECT_EQ(In(TCdb::ModeSense(0x05)).Data[8 + 2] & 0x0F, 1) << "write parameters back to their defaults";
  EXPECT_TRUE(Run(TCdb::StartStop(true, false)).Good()) << "the lock did not survive";
}

TEST_F(FaultInjectionTest, FaultsFireOneAfterAnother) {
  Arm(TFaultType::Busy, std::nullopt, 1);
  Arm(TFaultType::FailCommand, 0x00, 1, 0, sense::Make(2, 0x3A, 0x00));
  EXPECT_EQ(Run(TCdb::TestUnitReady()).Result.Status, kStatusBusy);
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Failed(sense::Make(2, 0x3A, 0x00)));
  EXPECT_TRUE(Run(TCdb::TestUnitReady()).Good());
}

}  // namespace
}  // namespace velmor::emu::test
