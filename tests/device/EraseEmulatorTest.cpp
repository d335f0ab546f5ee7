// Erasing every rewritable medium of the emulated recorder, quickly and
// fully, and the faults it can inject. The worker's body runs on the test's
// thread; its 5-second waits run on a fake clock.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "engine/device/Commands.h"
#include "engine/device/Erase.h"
#include "engine/device/Media.h"
#include "engine/platform/Clock.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor {
namespace {

using test::Emulator;
using test::EmulatorMedium;

struct TOutcome {
  int Reports = 0;
  bool Failed = false;
};

class EmulatedErase : public test::EmulatedDriveTest {
 protected:
  TOutcome Erase(bool Quick) {
    TOutcome outcome;
    BeginErase(*files, Dev(), Quick, [&](void*, std::uint8_t, bool Failed) {
      ++outcome.Reports;
      outcome.Failed = Failed;
    });
    TEraseThread(*files, Dev()).Execute();
    EXPECT_EQ(files->ComponentStatus, stIdle);
    return outcome;
  }

  // A recorded medium of Kind holding an ISO 9660 volume (the image is
  // written by the media test's VolumeImage layout: 32 sectors, primary
  // volume descriptor at sector 16).
  void InsertRecorded(const std::string& Kind) {
    const std::string path = test::EmulatorScratchPath("erase.iso");
    std::vector<char> image(32 * kSectorBytes, 0x11);
    char* primary = image.data() + 16 * kSectorBytes;
    primary[0] = 1;
    std::memcpy(primary + 1, "CD001", 5);
    primary[80] = 32;
    primary[81] = primary[82] = primary[83] = 0;
    std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
    ASSERT_EQ(Emulator("insert " + Kind + " --image " + path), 0);
    ASSERT_EQ(ReadVolumeSpaceSize(Dev()), 32u);
  }

  std::unique_ptr<TCDFiles> files = std::make_unique<TCDFiles>();
  TFakeClock clock;
  TClockOverride useClock{clock};
};

TEST_F(EmulatedErase, BlankedMediaBecomeBlank) {
  for (const char* kind : {"cd-rw", "dvd-rw", "dvd-rw-ro"}) {
    for (bool quick : {true, false}) {
      SCOPED_TRACE(std::string(kind) + (quick ? " quick" : " full"));
      InsertRecorded(kind);
      const TOutcome outcome = Erase(quick);
      EXPECT_EQ(outcome.Reports, 1);
      EXPECT_FALSE(outcome.Failed);
      EXPECT_EQ(EmulatorMedium().State, "blank");
      EXPECT_EQ(EmulatorMedium().Recorded, 0u);
    }
  }
}

TEST_F(EmulatedErase, OverwritableMediaLoseTheirFileSystem) {
  for (const char* kind : {"dvd+rw", "dvd-ram", "bd-re", "hd-dvd-ram"}) {
    for (bool quick : {true, false}) {
      SCOPED_TRACE(std::string(kind) + (quick ? " quick" : " full"));
      InsertRecorded(kind);
      const TOutcome outcome = Erase(quick);
      EXPECT_EQ(outcome.Reports, 1);
      EXPECT_FALSE(outcome.Failed);
      EXPECT_EQ(ReadVolumeSpaceSize(Dev()), 0u) << "no volume descriptor is found any more";
      if (Writable(Dev())) {
        EXPECT_EQ(QueryFreeBlocks(Dev()), EmulatorMedium().Capacity);
      }
    }
  }
}

TEST_F(EmulatedErase, NonErasableMediaAreRefused) {
  for (const char* kind : {"cd-r", "dvd+r", "bd-r", "cd-rom"}) {
    SCOPED_TRACE(kind);
    ASSERT_EQ(Emulator(std::string("insert ") + kind), 0);
    EXPECT_FALSE(Erasable(Dev()));
    const TOutcome outcome = Erase(true);
    EXPECT_EQ(outcome.Reports, 1);
    EXPECT_TRUE(outcome.Failed);
    EXPECT_NE(Dev().DeviceError, 0) << "the drive's refusal is the error";
  }
}

TEST_F(EmulatedErase, DriveNotReadyForSomePollsStillSucceeds) {
  InsertRecorded("cd-rw");
  ASSERT_EQ(Emulator("fault add not-ready --opcode 0x51 --count 5 --sense 2/04/07"), 0);
  EXPECT_FALSE(Erase(true).Failed);
  EXPECT_GE(clock.elapsed(), std::chrono::seconds(30));
}

struct TFaultCase {
  const char* Name;
  const char* Kind;
  const char* Fault;
  bool Quick;
  std::uint16_t DeviceError;
};

class EmulatedEraseFault : public EmulatedErase, public testing::WithParamInterface<TFaultCase> {};

TEST_P(EmulatedEraseFault, EndsFailedWithTheDrivesReason) {
  const TFaultCase& c = GetParam();
  ASSERT_EQ(Emulator(std::string("insert ") + c.Kind), 0);
  ASSERT_EQ(Emulator(std::string("fault add ") + c.Fault), 0);
  const TOutcome outcome = Erase(c.Quick);
  EXPECT_EQ(outcome.Reports, 1);
  EXPECT_TRUE(outcome.Failed);
  EXPECT_EQ(Dev().DeviceError, c.DeviceError);
  EXPECT_LE(clock.elapsed(), kNotReadyWaitLimit + kNotReadyPollInterval);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EmulatedEraseFault,
    testing::Values(
        TFaultCase{"BlankFails", "cd-rw", "fail-command --opcode 0xA1 --sense 5/24/00", true, 0x2400},
        TFaultCase{"FormatFails", "dvd-ram", "fail-command --opcode 0x04 --sense 3/31/00", false, 0x3100},
        TFaultCase{"MediumRemovedWhilePolled", "dvd-rw", "fail-command --opcode 0x51 --sense 2/3A/00",
                   false, 0x3A00},
        TFaultCase{"WriteFails", "dvd+rw", "write-error --lba 96", true, 0x0C00}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace kilnor
