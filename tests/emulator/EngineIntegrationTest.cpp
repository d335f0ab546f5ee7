// The engine finds the emulated drives through its unchanged ASPI path.
#include <fstream>
#include <memory>

#include "LibraryStateDir.h"
#include "engine/device/Commands.h"
#include "engine/device/Media.h"
#include "engine/device/SCSILib.h"

namespace velmor::emu::test {
namespace {

TEST(EngineIntegrationTest, InitializeAspiEnumeratesSelectsAndTalksToTheEmulatedDrive) {
  TEmulator helper(LibraryStateDir());
  FreshLibraryDrive(helper, TMediumKind::DvdPlusRw);
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

struct TDetection {
  TMediumKind Kind;
  kilnor::TMedium Medium;
  bool Erasable;
};

class EngineDetectionTest : public ::testing::TestWithParam<TDetection> {};

// The engine's detection reads the medium the helper inserted, through the
// library, as it would read a disc a person put in a real drive.
TEST_P(EngineDetectionTest, DiscIsAndErasableRecogniseTheInsertedMedium) {
  TEmulator helper(LibraryStateDir());
  FreshLibraryDrive(helper, GetParam().Kind);
  auto device = std::make_unique<kilnor::TSCSIDevice>();
  ASSERT_TRUE(kilnor::InitializeASPI(*device, true, RecorderLibraryPath(), ""));
  ASSERT_TRUE(kilnor::SelectDevice(*device, 0));
  EXPECT_EQ(kilnor::DiscIs(*device), GetParam().Medium);
  EXPECT_EQ(kilnor::Erasable(*device), GetParam().Erasable);
  EXPECT_TRUE(kilnor::DeviceIsBurner(*device));
}

INSTANTIATE_TEST_SUITE_P(
    Media, EngineDetectionTest,
    ::testing::Values(TDetection{TMediumKind::CdRom, kilnor::mtCDROM, false},
                      TDetection{TMediumKind::CdR, kilnor::mtCDR, false},
                      TDetection{TMediumKind::CdRw, kilnor::mtCDRW, true},
                      TDetection{TMediumKind::DvdR, kilnor::mtDVDR, false},
                      TDetection{TMediumKind::DvdRwSequential, kilnor::mtDVDRWSR, true},
                      TDetection{TMediumKind::DvdRwRestricted, kilnor::mtDVDRWRO, true},
                      TDetection{TMediumKind::DvdPlusR, kilnor::mtDVDPLUSR, false},
                      TDetection{TMediumKind::DvdPlusRDl, kilnor::mtDVDPLUSRDL, false},
                      TDetection{TMediumKind::DvdPlusRw, kilnor::mtDVDPLUSRW, true},
                      TDetection{TMediumKind::DvdRam, kilnor::mtDVDRAM, true},
                      TDetection{TMediumKind::BdR, kilnor::mtBDRSR, false},
                      TDetection{TMediumKind::BdRe, kilnor::mtBDRE, true},
                      TDetection{TMediumKind::HdDvdR, kilnor::mtHDDVDR, false},
                      TDetection{TMediumKind::HdDvdRam, kilnor::mtHDDVDRAM, true}),
    TKindCaseName());

TEST(EngineSpaceTest, BlankAndAppendableMediaReportTheirFreeAndTotalBlocks) {
  TEmulator helper(LibraryStateDir());
  FreshLibraryDrive(helper, TMediumKind::DvdR);
  auto device = std::make_unique<kilnor::TSCSIDevice>();
  ASSERT_TRUE(kilnor::InitializeASPI(*device, true, RecorderLibraryPath(), ""));
  ASSERT_TRUE(kilnor::SelectDevice(*device, 0));
  EXPECT_TRUE(kilnor::Writable(*device));
  EXPECT_EQ(kilnor::QueryFreeBlocks(*device), 2'298'496u);
  EXPECT_EQ(kilnor::QueryTotalBlocks(*device), 2'298'496u);
  EXPECT_EQ(kilnor::SessionsOnDisc(*device), 0);
}

TEST(EngineSpaceTest, DvdPlusRwHoldingAVolumeOffersTheRestOfItsTrack) {
  // A 200-block image whose primary volume descriptor gives 200 as the
  // volume space size.
  TTempDir folder;
  const std::string image = folder.Path + "/volume.iso";
  std::string bytes(200 * kBlockSize, '\0');
  const std::string descriptor = "\x01" "CD001";
  bytes.replace(16 * kBlockSize, descriptor.size(), descriptor);
  bytes[16 * kBlockSize + 80] = static_cast<char>(200);
  std::ofstream(image, std::ios::binary) << bytes;

  TEmulator helper(LibraryStateDir());
  FreshLibraryDrive(helper, TMediumKind::DvdPlusRw);
  std::string error;
  ASSERT_TRUE(helper.WithDrive(0, [&](TDrive& d) { return d.InsertNew(TMediumKind::DvdPlusRw, std::nullopt, image, error); }))
      << error;
  auto device = std::make_unique<kilnor::TSCSIDevice>();
  ASSERT_TRUE(kilnor::InitializeASPI(*device, true, RecorderLibraryPath(), ""));
  ASSERT_TRUE(kilnor::SelectDevice(*device, 0));
  EXPECT_EQ(kilnor::ReadVolumeSpaceSize(*device), 200u);
  EXPECT_EQ(kilnor::QueryFreeBlocks(*device), 2'295'104u - 200);
  EXPECT_EQ(kilnor::QueryTotalBlocks(*device), 2'295'104u);
  EXPECT_EQ(kilnor::SessionsOnDisc(*device), 1);
}

}  // namespace
}  // namespace velmor::emu::test
