// The engine finds the emulated drives through its unchanged ASPI path.
#include <memory>

#include "LibraryStateDir.h"
#include "engine/device/Commands.h"
#include "engine/device/SCSILib.h"

namespace velmor::emu::test {
namespace {

TEST(EngineIntegrationTest, InitializeAspiEnumeratesSelectsAndTalksToTheEmulatedDrive) {
  LibraryStateDir();
  auto device = std::make_unique<kilnor::TSCSIDevice>();
  ASSERT_TRUE(kilnor::InitializeASPI(*device, true, RecorderLibraryPath(), ""));
  ASSERT_EQ(device->NoOfDevices, 1);
  const std::string name = kilnor::GetDeviceName(*device, 0);
  EXPECT_NE(name.find("VELMOR"), std::string::npos) << name;
  EXPECT_NE(name.find("VIRTUAL RECORDER"), std::string::npos) << name;
  ASSERT_TRUE(kilnor::SelectDevice(*device, 0));
  EXPECT_STREQ(device->Vendor, "VELMOR  ");
  EXPECT_STREQ(device->ProductID, "VIRTUAL RECORDER");
  EXPECT_TRUE(kilnor::TestUnitReady(*device));
  std::array<std::uint8_t, 64> reply{};
  EXPECT_TRUE(kilnor::Inquiry(*device, reply));
  EXPECT_EQ(reply[0], 0x05);
  EXPECT_FALSE(kilnor::SelectDevice(*device, 1));
  EXPECT_FALSE(kilnor::TestUnitReady(*device)) << "nothing selected after a failed selection";
}

}  // namespace
}  // namespace velmor::emu::test
