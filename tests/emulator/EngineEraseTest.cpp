// The engine's erase worker against the emulated recorder: every erasable
// medium ends blank, and every armed fault ends in a reported failure.
#include <memory>

#include "LibraryStateDir.h"
#include "engine/device/Erase.h"
#include "engine/platform/Clock.h"

namespace velmor::emu::test {
namespace {

struct TEraseCase {
  TMediumKind Kind;
  bool Quick;
};

std::string EraseName(const ::testing::TestParamInfo<TEraseCase>& Info) {
  return KindCaseName(Info.param.Kind) + (Info.param.Quick ? "_quick" : "_full");
}

class EngineEraseTest : public ::testing::Test {
 protected:
  EngineEraseTest() : Helper(LibraryStateDir()), Override(FakeClock) {}

  void Insert(TMediumKind Kind) { FreshLibraryDrive(Helper, Kind); }
  // Records a little data on the medium through the helper's own drive, as
  // an earlier burn would have.
  void RecordSomething(TMediumKind Kind) {
    TBytes data(32 * kBlockSize, 0x5A);
    if (Traits(Kind).WritesByPageFive) {
      TBytes page(8 + 52);
      ASSERT_TRUE(Helper.Execute(0, TCdb::ModeSense(0x05), TDirection::In, page).Good());
      page[0] = page[1] = 0;
      page[8 + 2] = Traits(Kind).Family == TFamily::Cd ? 0x41 : 0x40;
      ASSERT_TRUE(Helper.Execute(0, TCdb::ModeSelect(60), TDirection::Out, page).Good());
    }
    ASSERT_TRUE(Helper.Execute(0, TCdb::Write10(0, 32), TDirection::Out, data).Good());
    ASSERT_TRUE(Helper.Execute(0, TCdb::SynchronizeCache(), TDirection::None, {}).Good());
  }
  void Arm(TFaultType Type, std::optional<std::uint8_t> Opcode, std::uint32_t Count, TSense Sense = sense::BecomingReady()) {
    TFault fault;
    fault.Type = Type;
    fault.Opcode = Opcode;
    fault.Count = Count;
    fault.Sense = Sense;
    Helper.WithDrive(0, [&](TDrive& d) { d.ArmFault(fault); });
  }
  // Runs the engine's erase on its own device record; true when it reported failure.
  bool EraseFails(bool Quick) {
    auto device = std::make_unique<kilnor::TSCSIDevice>();
    auto files = std::make_unique<kilnor::TCDFiles>();
    EXPECT_TRUE(kilnor::InitializeASPI(*device, true, RecorderLibraryPath(), ""));
    EXPECT_TRUE(kilnor::SelectDevice(*device, 0));
    int reports = 0;
    bool failed = false;
    kilnor::BeginErase(*files, *device, Quick, [&](void*, std::uint8_t, bool EraseFailed) {
      ++reports;
      failed = EraseFailed;
    });
    kilnor::TEraseThread(*files, *device).Execute();
    EXPECT_EQ(reports, 1);
    return failed;
  }
  TDiscStatus Status() {
    return Helper.WithDrive(0, [](TDrive& d) { return d.Medium()->Layout.DiscStatus(); });
  }
  bool StartReads(std::uint8_t Value) {
    TBytes block(kBlockSize);
    if (!Helper.Execute(0, TCdb::Read10(16, 1), TDirection::In, block).Good()) return false;
    return block == TBytes(kBlockSize, Value);
  }

  TEmulator Helper;
  kilnor::TFakeClock FakeClock;
  kilnor::TClockOverride Override;
};

class EngineEraseMediaTest : public EngineEraseTest, public ::testing::WithParamInterface<TEraseCase> {};

TEST_P(EngineEraseMediaTest, ErasedMediumHoldsNoFileSystemAnyMore) {
  Insert(GetParam().Kind);
  ASSERT_NO_FATAL_FAILURE(RecordSomething(GetParam().Kind));
  EXPECT_FALSE(EraseFails(GetParam().Quick));
  if (Traits(GetParam().Kind).Recording == TRecording::Sequential)
    EXPECT_EQ(Status(), TDiscStatus::Empty);
  else
    EXPECT_FALSE(StartReads(0x5A)) << "the start of the medium no longer holds the old data";
}

INSTANTIATE_TEST_SUITE_P(Media, EngineEraseMediaTest,
                         ::testing::Values(TEraseCase{TMediumKind::CdRw, true}, TEraseCase{TMediumKind::CdRw, false},
                                           TEraseCase{TMediumKind::DvdRwSequential, false},
                                           TEraseCase{TMediumKind::DvdRwRestricted, true},
                                           TEraseCase{TMediumKind::DvdPlusRw, true},
                                           TEraseCase{TMediumKind::DvdPlusRw, false},
                                           TEraseCase{TMediumKind::DvdRam, true}, TEraseCase{TMediumKind::DvdRam, false},
                                           TEraseCase{TMediumKind::BdRe, true}),
                         EraseName);

TEST_F(EngineEraseTest, RefusedBlankIsReported) {
  Insert(TMediumKind::CdRw);
  Arm(TFaultType::FailCommand, 0xA1, 1, sense::Make(sense::kIllegalRequest, 0x24, 0x00));
  EXPECT_TRUE(EraseFails(true));
}

TEST_F(EngineEraseTest, WriteOnceMediumCannotBeErased) {
  Insert(TMediumKind::CdR);
  EXPECT_TRUE(EraseFails(true));
}

TEST_F(EngineEraseTest, MissingMediumIsReported) {
  Insert(TMediumKind::CdRw);
  Helper.WithDrive(0, [](TDrive& d) { d.RemoveMedium(); });
  EXPECT_TRUE(EraseFails(true));
}

TEST_F(EngineEraseTest, WriteErrorWhileOverwritingIsReported) {
  Insert(TMediumKind::DvdPlusRw);
  TFault fault;
  fault.Type = TFaultType::WriteError;
  fault.Lba = 100;
  Helper.WithDrive(0, [&](TDrive& d) { d.ArmFault(fault); });
  EXPECT_TRUE(EraseFails(true));
}

TEST_F(EngineEraseTest, TrayEjectedOrPowerLostWhileOverwritingIsReported) {
  for (TFaultType type : {TFaultType::Eject, TFaultType::PowerLoss}) {
    SCOPED_TRACE(FaultTypeName(type));
    Insert(TMediumKind::DvdRam);
    Arm(type, std::nullopt, 3);
    EXPECT_TRUE(EraseFails(true));
  }
}

TEST_F(EngineEraseTest, DriveBusyForAWhileStillErases) {
  Insert(TMediumKind::CdRw);
  Arm(TFaultType::NotReady, 0x51, 3, sense::OperationInProgress());
  EXPECT_FALSE(EraseFails(false));
}

TEST_F(EngineEraseTest, DriveThatNeverBecomesReadyEndsInFailure) {
  Insert(TMediumKind::CdRw);
  Arm(TFaultType::NotReady, 0x51, 100000, sense::OperationInProgress());
  EXPECT_TRUE(EraseFails(true));
}

}  // namespace
}  // namespace velmor::emu::test
