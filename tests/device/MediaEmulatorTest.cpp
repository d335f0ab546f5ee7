// Media and capability detection, write parameters and speeds against every
// medium of the emulated recorder, through the engine's real ASPI path.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "engine/device/Commands.h"
#include "engine/device/Media.h"
#include "engine/device/Speeds.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor {
namespace {

using test::Emulator;
using test::EmulatorMedium;

struct TMediumCase {
  const char* Kind;  // velmor-emulator's name; "none" takes the medium out
  TMedium Medium;
  bool Erasable;
  bool Writable;
  std::int32_t Sessions;
};

class EmulatedMedia : public test::EmulatedDriveTest, public testing::WithParamInterface<TMediumCase> {};

TEST_P(EmulatedMedia, AnswerWhatTheEmulatorHolds) {
  const TMediumCase& c = GetParam();
  ASSERT_EQ(Emulator(std::string(c.Kind) == "none" ? "remove" : std::string("insert ") + c.Kind), 0);
  const test::TEmulatedMedium held = EmulatorMedium();
  TSCSIDevice& dev = Dev();
  EXPECT_EQ(DiscIs(dev), c.Medium);
  EXPECT_EQ(Erasable(dev), c.Erasable);
  EXPECT_EQ(Writable(dev), c.Writable);
  EXPECT_EQ(SessionsOnDisc(dev), c.Sessions);
  EXPECT_EQ(QueryTotalBlocks(dev), held.Capacity);
  EXPECT_EQ(QueryFreeBlocks(dev), c.Writable ? held.Capacity - held.Recorded : 0u);
  EXPECT_EQ(TestUnitReady(dev), c.Medium != mtUNKNOWN);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EmulatedMedia,
    testing::Values(TMediumCase{"cd-rom", mtCDROM, false, false, 1},
                    TMediumCase{"cd-r", mtCDR, false, true, 0},
                    TMediumCase{"cd-rw", mtCDRW, true, true, 0},
                    TMediumCase{"dvd-r", mtDVDR, false, true, 0},
                    TMediumCase{"dvd-rw", mtDVDRWSR, true, true, 0},
                    TMediumCase{"dvd-rw-ro", mtDVDRWRO, true, true, 1},
                    TMediumCase{"dvd+r", mtDVDPLUSR, false, true, 0},
                    TMediumCase{"dvd+r-dl", mtDVDPLUSRDL, false, true, 0},
                    TMediumCase{"dvd+rw", mtDVDPLUSRW, true, true, 0},
                    TMediumCase{"dvd-ram", mtDVDRAM, true, true, 1},
                    TMediumCase{"bd-r", mtBDRSR, false, true, 0},
                    TMediumCase{"bd-re", mtBDRE, true, true, 1},
                    TMediumCase{"hd-dvd-r", mtHDDVDR, false, true, 0},
                    // Not one of the overwritable media, and its disc status
                    // is complete: neither writable nor with free blocks.
                    TMediumCase{"hd-dvd-ram", mtHDDVDRAM, true, false, 1},
                    TMediumCase{"none", mtUNKNOWN, false, false, 0}),
    [](const auto& info) {
      std::string name = info.param.Kind;
      for (char& c : name)
        if (c == '-') c = '_';
        else if (c == '+') c = 'P';
      return name;
    });

// An image whose sector 16 is a primary volume descriptor of VolumeBlocks
// blocks; written by this function, 32 sectors long.
std::string VolumeImage(std::uint32_t VolumeBlocks) {
  const std::string path = test::EmulatorScratchPath("volume.iso");
  std::vector<char> image(32 * kSectorBytes, 0);
  char* primary = image.data() + 16 * kSectorBytes;
  primary[0] = 1;
  std::memcpy(primary + 1, "CD001", 5);
  for (int i = 0; i < 4; ++i) primary[80 + i] = static_cast<char>(VolumeBlocks >> (8 * i));
  char* terminator = primary + kSectorBytes;
  terminator[0] = static_cast<char>(0xFF);
  std::memcpy(terminator + 1, "CD001", 5);
  std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
  return path;
}

using EmulatedVolumes = test::EmulatedDriveTest;

TEST_F(EmulatedVolumes, OverwritableMediaFreeWhatTheFileSystemDoesNotHold) {
  const std::string image = VolumeImage(1000);
  for (const char* kind : {"dvd+rw", "dvd-ram", "bd-re"}) {
    SCOPED_TRACE(kind);
    ASSERT_EQ(Emulator(std::string("insert ") + kind + " --image " + image), 0);
    const test::TEmulatedMedium held = EmulatorMedium();
    EXPECT_EQ(ReadVolumeSpaceSize(Dev()), 1000u);
    EXPECT_EQ(QueryFreeBlocks(Dev()), held.Capacity - 1000);
  }
}

struct TWriteParametersMedium {
  const char* Kind;
  TMedium Medium;
};

// The drive takes the page composed for each medium, with and without a
// block descriptor in its MODE SENSE reply, and keeps what was sent.
TEST_F(EmulatedVolumes, DriveAcceptsTheWriteParametersOfEveryMedium) {
  for (const char* blockDescriptor : {"0", "1"}) {
    ASSERT_EQ(Emulator(std::string("set block-descriptor ") + blockDescriptor), 0);
    for (const TWriteParametersMedium& c :
         {TWriteParametersMedium{"cd-r", mtCDR}, {"cd-rw", mtCDRW}, {"dvd-r", mtDVDR},
          {"dvd-rw", mtDVDRWSR}, {"dvd-rw-ro", mtDVDRWRO}, {"dvd+r", mtDVDPLUSR},
          {"dvd+r-dl", mtDVDPLUSRDL}, {"dvd+rw", mtDVDPLUSRW}, {"dvd-ram", mtDVDRAM},
          {"bd-r", mtBDRSR}, {"bd-re", mtBDRE}, {"hd-dvd-r", mtHDDVDR}}) {
      SCOPED_TRACE(std::string(c.Kind) + (blockDescriptor[0] == '1' ? " with block descriptor" : ""));
      ASSERT_EQ(Emulator(std::string("insert ") + c.Kind), 0);
      for (bool testWrite : {false, true}) {
        ASSERT_TRUE(SetWriteParameters(Dev(), testWrite, true, true, c.Medium));
        std::array<std::uint8_t, 512> reply{};
        ASSERT_TRUE(ModeSense10(Dev(), reply, 512, false, 0x05));
        TModePageSpan page;
        ASSERT_TRUE(LocateModePage(std::span(reply).first(Dev().LastTransferLength), 0x05, page));
        EXPECT_EQ(page.Offset, blockDescriptor[0] == '1' ? 16u : 8u);
        for (std::size_t i = 2; i < 16 && i + 2 < page.Length; ++i)
          EXPECT_EQ(reply[page.Offset + i], Dev().ModePage05[i]) << "page byte " << i;
      }
    }
  }
}

TEST_F(EmulatedVolumes, CapabilitiesOfADriveThatWritesEverything) {
  ASSERT_TRUE(ReadCapabilities(Dev()));
  for (std::uint8_t id = DC_READ_CDR; id <= DC_READ_BDRE; ++id) EXPECT_TRUE(DeviceCan(Dev(), id)) << int(id);
  for (std::uint8_t id = DC_WRITE_CDR; id <= DC_WRITE_BDRE; ++id) EXPECT_TRUE(DeviceCan(Dev(), id)) << int(id);
  EXPECT_TRUE(DeviceCan(Dev(), DC_TEST_WRITE));
  EXPECT_TRUE(DeviceIsBurner(Dev()));
}

// The speeds the drive accepts for a DVD are its speed table for DVDs.
TEST_F(EmulatedVolumes, AcceptedWriteSpeedsAreTheDrivesTable) {
  ASSERT_EQ(Emulator("insert dvd+r"), 0);
  const TMedium medium = DiscIs(Dev());
  const std::uint32_t fastest = FactorOfSpeed(QueryMaxWriteSpeed(Dev()), medium);
  EXPECT_EQ(fastest, 16u);
  std::vector<std::uint16_t> accepted;
  for (std::uint32_t factor = fastest; factor >= 1; --factor) {
    SetDeviceSpeed(Dev(), 0, SpeedOfFactor(factor, medium));
    const std::uint16_t speed = QueryWriteSpeed(Dev());
    if (std::find(accepted.begin(), accepted.end(), speed) == accepted.end()) accepted.push_back(speed);
  }
  EXPECT_EQ(accepted, (std::vector<std::uint16_t>{22160, 16620, 11080, 5540, 2770}));
  SetDeviceSpeed(Dev(), 0, 0);
  EXPECT_EQ(QueryWriteSpeed(Dev()), 22160) << "0 asks for the maximum";
}

TEST_F(EmulatedVolumes, MetersCountWritesAndReads) {
  ASSERT_EQ(Emulator("insert dvd+rw"), 0);
  TSCSIDevice& dev = Dev();
  ResetSpeedMeters(dev);
  const std::vector<std::uint8_t> packet(kPacketBytes, 0x5A);
  for (std::uint32_t i = 0; i < 8; ++i) ASSERT_TRUE(Write10(dev, 32 * i, 32, kPacketBytes, packet));
  std::vector<std::uint8_t> back(kPacketBytes);
  ASSERT_TRUE(Read10(dev, 32, 32, back));
  EXPECT_EQ(back, packet);
  EXPECT_EQ(dev.bmWSize, 8.0 * kPacketBytes);
  EXPECT_EQ(dev.bmWCounter, 8);
  EXPECT_EQ(dev.bmRSize, 1.0 * kPacketBytes);
  EXPECT_GT(BMAvgWriteSpeed(dev), 0);
  EXPECT_GT(MeasuredSpeed(dev), 0u);
  (void)BMWriteSpeed(dev);
  EXPECT_GT(BMWriteSpeed(dev), 0) << "the second call answers with the first call's measurement";
}

}  // namespace
}  // namespace kilnor
