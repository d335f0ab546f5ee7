// EraseDisc on the component: the worker's outcome reaches OnEraseDone on
// the owner's thread, with the error that explains a failure.
#include <gtest/gtest.h>

#include "engine/KilnorPro.h"
#include "engine/platform/Clock.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor {
namespace {

using test::Emulator;

class ComponentErase : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Emulator("reset"), 0);
    ASSERT_TRUE(kp.InitializeASPI(true, test::kBinDir + "/libvelmor-recorder.so", ""));
    ASSERT_TRUE(kp.SelectDevice(0));
    kp.SetOnEraseDone([this](void* Sender, std::uint8_t DeviceId, bool EraseFailed) {
      ++reports;
      failed = EraseFailed;
      sender = Sender;
      EXPECT_EQ(DeviceId, 0);
      statusWhenReported = kp.ComponentStatus();
    });
  }

  // Drains completions until the erase has reported.
  void WaitForReport() {
    for (int i = 0; i < 600 && reports == 0; ++i) {
      kp.WaitForNotifications(std::chrono::milliseconds(100));
      kp.DrainNotifications();
    }
    ASSERT_EQ(reports, 1);
  }

  TFakeClock clock;
  TClockOverride useClock{clock};
  int owner = 0;
  TKilnorPro kp{&owner};
  int reports = 0;
  bool failed = false;
  void* sender = nullptr;
  std::uint16_t statusWhenReported = 0xFFFF;
};

TEST_F(ComponentErase, ReportsSuccessOnTheOwnersThread) {
  ASSERT_EQ(Emulator("insert cd-rw"), 0);
  ASSERT_TRUE(kp.Erasable());
  EXPECT_TRUE(kp.EraseDisc(true));
  WaitForReport();
  EXPECT_FALSE(failed);
  EXPECT_EQ(sender, &kp) << "delivered by the component";
  EXPECT_EQ(statusWhenReported, stIdle);
}

TEST_F(ComponentErase, RefusedBlankIsAFailureWithTheDrivesReason) {
  ASSERT_EQ(Emulator("insert cd-rw"), 0);
  ASSERT_EQ(Emulator("fault add fail-command --opcode 0xA1 --sense 5/24/00"), 0);
  EXPECT_TRUE(kp.EraseDisc(false));
  WaitForReport();
  EXPECT_TRUE(failed);
  EXPECT_EQ(kp.ErrorString(), "Hardware Error 9216");
}

// A busy drive took nothing; the erase starts again once it is free.
TEST_F(ComponentErase, ADriveBusyForAWhileIsErasedOnceItIsFree) {
  for (const char* medium : {"cd-rw", "dvd-rw", "dvd+rw", "bd-re"}) {
    ASSERT_EQ(Emulator(std::string("insert ") + medium), 0);
    ASSERT_EQ(Emulator("fault add busy --count 20"), 0);
    reports = 0;
    EXPECT_TRUE(kp.EraseDisc(true)) << medium;
    WaitForReport();
    EXPECT_FALSE(failed) << medium << ": " << kp.ErrorString();
    EXPECT_EQ(kp.ComponentStatus(), stIdle) << medium;
  }
}

TEST_F(ComponentErase, ADriveThatStaysBusyFailsTheEraseWithAReason) {
  ASSERT_EQ(Emulator("insert cd-rw"), 0);
  ASSERT_EQ(Emulator("fault add busy --count 100000"), 0);
  EXPECT_TRUE(kp.EraseDisc(true));
  WaitForReport();
  EXPECT_TRUE(failed);
  EXPECT_EQ(kp.ErrorString(), "The drive stayed busy and did not take the data");
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

TEST_F(ComponentErase, AbortEndsTheWait) {
  ASSERT_EQ(Emulator("insert cd-rw"), 0);
  ASSERT_EQ(Emulator("fault add not-ready --opcode 0x51 --count 100000"), 0);
  EXPECT_TRUE(kp.EraseDisc(true));
  kp.AbortOperation();
  WaitForReport();
  EXPECT_TRUE(failed);
  EXPECT_EQ(kp.ErrorString(), "Aborted by user");
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
}

}  // namespace
}  // namespace kilnor
