#include <gtest/gtest.h>

#include "engine/KilnorPro.h"

namespace kilnor {

TEST(ComponentErrors, ReadingTheErrorNumberConsumesIt) {
  TKilnorPro kp;
  kp.CDFiles.ErrorNumber = 3;
  EXPECT_EQ(kp.ErrorNumber(), 3u);
  EXPECT_EQ(kp.ErrorNumber(), 0u);
}

TEST(ComponentErrors, EngineErrorComesBeforeTheDriveSenseCode) {
  TKilnorPro kp;
  kp.CDFiles.ErrorNumber = 1;
  kp.Device.DeviceError = 0x3A00;
  EXPECT_EQ(kp.ErrorNumber(), 1u);
  EXPECT_EQ(kp.ErrorNumber(), 0x3A00u);
  EXPECT_EQ(kp.ErrorNumber(), 0u);
}

TEST(ComponentErrors, ReadingTheTextConsumesTheNumberToo) {
  TKilnorPro kp;
  kp.CDFiles.ErrorNumber = 4;
  EXPECT_EQ(kp.ErrorString(), "Aborted by user");
  EXPECT_EQ(kp.ErrorString(), "Unknown/No Error!");
  kp.CDFiles.ErrorNumber = 4;
  EXPECT_EQ(kp.ErrorStringW(), u"Aborted by user");
  EXPECT_EQ(kp.ErrorNumber(), 0u);
}

TEST(ComponentErrors, AbortWithNothingRunning) {
  TKilnorPro kp;
  kp.AbortOperation();
  EXPECT_TRUE(kp.CDFiles.Aborted);
  EXPECT_EQ(kp.ComponentStatus(), stAborting);
  EXPECT_EQ(kp.ErrorNumber(), 4u);
  EXPECT_EQ(kp.ErrorNumber(), 0u);
  EXPECT_EQ(kp.ComponentStatus(), stAborting) << "the status stays until the next operation";
}

}  // namespace kilnor
