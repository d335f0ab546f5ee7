// The state files keep their format: a drive's state and armed faults as an
// earlier version of the recorder wrote them load whole and are written back
// byte for byte; a damaged or odd file is read leniently or refused cleanly.
#include <filesystem>
#include <fstream>
#include <sstream>

#include "EmulatorTestSupport.h"
#include "StateStore.h"

namespace velmor::emu::test {
namespace {

namespace fs = std::filesystem;

// Written by the recorder before its JSON moved to nlohmann-json: a DVD+R
// with one closed session of 160 blocks, a non-ASCII vendor, the letter E,
// and two armed faults.
const fs::path kEarlierState = fs::path(VELMOR_SOURCE_DIR) / "tests/emulator/state-files";
constexpr const char* kEarlierMediumId = "b80030dcca410be1";

std::string FileText(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class StateFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"drive-0.json", "drive-0.faults.json"})
      fs::copy_file(kEarlierState / name, fs::path(Dir.Path) / name);
    // The disc's data file holds the 160 blocks the medium recorded.
    const fs::path data = fs::path(Dir.Path) / ("medium-" + std::string(kEarlierMediumId) + ".data");
    std::ofstream{data};
    fs::resize_file(data, 160 * kBlockSize);
  }

  TTempDir Dir;
  TStateStore Store{Dir.Path};
};

TEST_F(StateFormatTest, AnEarlierStateLoadsWhole) {
  std::string error;
  const auto drive = Store.LoadDrive(0, error);
  ASSERT_NE(drive, nullptr) << error;
  EXPECT_EQ(drive->Config().Vendor, "\xC3\x9C" "BER");
  EXPECT_EQ(drive->Config().DriveLetter, 'E');
  EXPECT_EQ(drive->Config().BufferKiB, 2048u);
  EXPECT_FALSE(drive->TrayOpen());
  ASSERT_TRUE(drive->Medium().has_value());
  EXPECT_EQ(drive->Medium()->Id, kEarlierMediumId);
  const auto stored = drive->Medium()->Committed.Store();
  EXPECT_EQ(stored.Kind, TMediumKind::DvdPlusR);
  EXPECT_EQ(stored.ClosedSessions, 1u);
  ASSERT_EQ(stored.Tracks.size(), 1u);
  EXPECT_EQ(stored.Tracks[0].Recorded, 160u);
  EXPECT_TRUE(stored.Tracks[0].Closed);
  const auto& faults = drive->Faults().Armed();
  ASSERT_EQ(faults.size(), 2u);
  EXPECT_EQ(faults[0].Type, TFaultType::WriteError);
  EXPECT_EQ(faults[0].Lba, 999u);
  EXPECT_EQ(faults[1].Opcode, std::optional<std::uint8_t>{0x2A});
  EXPECT_EQ(faults[1].Count, 3u);
  EXPECT_EQ(faults[1].Sense, sense::Make(0x3, 0x0C, 0x00));
}

TEST_F(StateFormatTest, AnEarlierStateIsWrittenBackByteForByte) {
  std::string error;
  const auto drive = Store.LoadDrive(0, error);
  ASSERT_NE(drive, nullptr) << error;
  ASSERT_TRUE(Store.SaveState(0, *drive));
  ASSERT_TRUE(Store.SaveFaults(0, *drive));
  EXPECT_EQ(FileText(Store.DrivePath(0)), FileText(kEarlierState / "drive-0.json"));
  EXPECT_EQ(FileText(Store.FaultsPath(0)), FileText(kEarlierState / "drive-0.faults.json"));
}

// Hand-edited values: what is missing or of another type takes its default,
// a fraction counts as its whole part, and a number beyond any range is
// no count at all.
TEST(StateValues, MistypedOrMissingMembersReadAsDefaults) {
  const auto json = ParseJson(R"({"buffer_kib": "many", "busy_polls": 2.9, "loading_polls": 1e300,
                                  "realtime": 1, "speeds": [], "vendor": 7, "drive_letter": "EF"})");
  ASSERT_TRUE(json.has_value());
  std::string error;
  const auto config = ConfigFromJson(*json, error);
  ASSERT_TRUE(config.has_value()) << error;
  const TDriveConfig defaults;
  EXPECT_EQ(config->BufferKiB, 64u) << "no number: the smallest buffer";
  EXPECT_EQ(config->BusyPolls, 2u);
  EXPECT_EQ(config->LoadingPolls, 0u);
  EXPECT_FALSE(config->Realtime);
  EXPECT_EQ(config->Vendor, defaults.Vendor);
  EXPECT_EQ(config->DriveLetter, 0);
  EXPECT_EQ(config->Speeds.size(), defaults.Speeds.size()) << "speeds of another type leave the defaults";
}

TEST(StateValues, TextThatIsNoSingleDocumentIsRefused) {
  for (const char* text : {"", "{", "{\"drive\": }", "{} {}", "[1, 2,]", "{\"a\": \"\\x\"}"})
    EXPECT_FALSE(ParseJson(text).has_value()) << text;
  EXPECT_TRUE(ParseJson(" {\"a\": [1, -2, 3.5e1, null, true]}\n").has_value());
}

}  // namespace
}  // namespace velmor::emu::test
