#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <regex>
#include <string>

#include "engine/KilnorPro.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

TEST(ComponentProperties, ConstructionDefaults) {
  TKilnorPro kp;
  EXPECT_TRUE(kp.BurnProof());
  EXPECT_FALSE(kp.TestWrite());
  EXPECT_FALSE(kp.FinalizeDisc());
  EXPECT_FALSE(kp.ReplaceFile());
  EXPECT_TRUE(kp.JolietFileSystem());
  EXPECT_FALSE(kp.ISO9660v1999FS());
  EXPECT_FALSE(kp.UDFBridge());
  EXPECT_EQ(kp.CacheSize(), 32u);
  EXPECT_EQ(kp.CDFiles.CacheSize, 32u * 1048576u);
  EXPECT_EQ(kp.VolumeID(), "");
  EXPECT_EQ(kp.BootImage(), "");
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
  EXPECT_EQ(kp.ErrorNumber(), 0u);
  EXPECT_TRUE(kp.Device.CloseFH);
  EXPECT_FALSE(kp.OnAddFile());
  EXPECT_FALSE(kp.OnWriteDone());
  EXPECT_FALSE(kp.OnEraseDone());
  EXPECT_FALSE(kp.OnVerifyDone());
  EXPECT_FALSE(kp.OnGenerateSmartReferencesDone());
}

TEST(ComponentProperties, OnlyAComponentWithAnOwnerHasAQueue) {
  TKilnorPro orphan;
  EXPECT_EQ(orphan.Notifications(), nullptr);
  EXPECT_EQ(orphan.CDFiles.hWNDFE, nullptr);
  EXPECT_EQ(orphan.Device.hWNDFE, nullptr);

  int owner = 0;
  TKilnorPro owned(&owner);
  ASSERT_NE(owned.Notifications(), nullptr);
  EXPECT_EQ(owned.CDFiles.hWNDFE, owned.Notifications());
  EXPECT_EQ(owned.Device.hWNDFE, owned.Notifications());
}

TEST(ComponentProperties, CacheSizeIsKeptWithinTheCacheTable) {
  struct Case {
    std::uint32_t set;
    std::uint32_t megabytes;
  };
  for (const Case c : {Case{0, 2}, Case{1, 2}, Case{2, 2}, Case{64, 64}, Case{625, 625},
                       Case{626, 625}, Case{5000, 625}, Case{0xFFFFFFFF, 625}}) {
    TKilnorPro kp;
    kp.SetCacheSize(c.set);
    EXPECT_EQ(kp.CacheSize(), c.megabytes) << "set " << c.set;
    EXPECT_EQ(kp.CDFiles.CacheSize, c.megabytes * 1048576u) << "set " << c.set;
  }
  TKilnorPro kp;
  kp.SetCacheSize(64);
  EXPECT_EQ(kp.CDFiles.CacheSize, 67108864u);
}

TEST(ComponentProperties, StatusTexts) {
  const char* texts[] = {" IDLE ",       " WRITING ",   " ERASING ",   " BACKGROUND FORMAT ",
                         " CLOSING TRACK ", " CLOSING DISC ", " PREPARING ", " ABORTING ",
                         " IMPORTING SESSION ", " BURN ERROR: ABORTING ", " VERIFYING ",
                         " GEN. SM. REF "};
  for (std::uint16_t status = 0; status < 12; ++status) EXPECT_EQ(StatusText(status), texts[status]);
  EXPECT_EQ(StatusText(12), "");
  EXPECT_EQ(StatusText(0xFFFF), "");
}

TEST(ComponentProperties, VersionIsNumberAndBuildDate) {
  EXPECT_TRUE(std::regex_match(TKilnorPro::Version(),
                               std::regex(R"(0\.1\.0 \(20\d\d-[01]\d-[0-3]\d\))")))
      << TKilnorPro::Version();
}

TEST(ComponentProperties, VolumeLabelIsCutToThirtyOneCharacters) {
  struct Case {
    std::u16string set;
    std::u16string stored;
  };
  const std::u16string thirty(30, u'A');
  const std::u16string clef = u"\U0001D11E";  // two UTF-16 units
  const Case cases[] = {
      {u"My Volume", u"My Volume"},
      {u"", u""},
      {std::u16string(31, u'x'), std::u16string(31, u'x')},
      {std::u16string(40, u'x'), std::u16string(31, u'x')},
      {std::u16string(40, u'\u00e9'), std::u16string(31, u'\u00e9')},
      {thirty + clef, thirty},      // the pair would need units 31 and 32
      {u"ab" + clef + u"cd", u"ab" + clef + u"cd"},
      {std::u16string(u"Data\0Hidden", 11), u"Data"},
  };
  for (const Case& c : cases) {
    TKilnorPro kp;
    kp.SetVolumeIDW(c.set);
    EXPECT_EQ(kp.VolumeIDW(), c.stored);
    TKilnorPro narrow;
    narrow.SetVolumeID(std::string(kp.VolumeID()));
    EXPECT_EQ(narrow.VolumeIDW(), c.stored) << "the 8-bit form names the same label";
  }
}

TEST(ComponentProperties, EightBitVolumeLabelIsCutAtACharacterBoundary) {
  TKilnorPro kp;
  std::string label;
  for (int i = 0; i < 40; ++i) label += "\xC3\xA9";  // é in UTF-8
  kp.SetVolumeID(label);
  EXPECT_EQ(kp.VolumeIDW(), std::u16string(31, u'\u00e9'));
  EXPECT_EQ(kp.VolumeID(), label.substr(0, 62));
}

TEST(ComponentProperties, ClearingTheLabelEmptiesBothForms) {
  TKilnorPro kp;
  kp.SetVolumeID("Backup 2014");
  kp.SetVolumeID("");
  EXPECT_EQ(kp.VolumeID(), "");
  EXPECT_EQ(kp.VolumeIDW(), u"");
}

// A running write reads these settings and owns the tree and the drive: the
// component keeps them until it has ended and says why a change was refused.
// Storing the value a setting has, as the options dialog does, is no change.
TEST(ComponentProperties, SettingsAndTreeKeepWhileAWriteRuns) {
  TKilnorPro kp;
  kp.SetVolumeID("Running");
  kp.CDFiles.WriteRunning = true;
  kp.CDFiles.ComponentStatus = stWriting;
  struct Case {
    const char* name;
    std::function<void()> change;
    std::function<bool()> kept;
  };
  const Case cases[] = {
      {"Joliet", [&] { kp.SetJolietFileSystem(false); }, [&] { return kp.JolietFileSystem(); }},
      {"UDF", [&] { kp.SetUDFBridge(true); }, [&] { return !kp.UDFBridge(); }},
      {"ISO 9660:1999", [&] { kp.SetISO9660v1999FS(true); }, [&] { return !kp.ISO9660v1999FS(); }},
      {"readable by all", [&] { kp.SetRockRidgePublic(true); }, [&] { return !kp.RockRidgePublic(); }},
      {"test write", [&] { kp.SetTestWrite(true); }, [&] { return !kp.TestWrite(); }},
      {"finalize", [&] { kp.SetFinalizeDisc(true); }, [&] { return !kp.FinalizeDisc(); }},
      {"cache", [&] { kp.SetCacheSize(64); }, [&] { return kp.CacheSize() == 32; }},
      {"label", [&] { kp.SetVolumeID("Other"); }, [&] { return kp.VolumeID() == "Running"; }},
      {"smart references", [&] { EXPECT_FALSE(kp.GenerateSmartReferences()); }, [] { return true; }},
      {"image mount", [&] { EXPECT_FALSE(kp.MountISOImage("/nonexistent.iso")); }, [] { return true; }},
      {"session import", [&] { EXPECT_EQ(kp.ImportSession(1, "\\"), -1); }, [] { return true; }},
  };
  for (const Case& c : cases) {
    c.change();
    EXPECT_TRUE(c.kept()) << c.name;
    EXPECT_EQ(kp.ErrorNumber(), 0x1000Bu) << c.name;
    EXPECT_EQ(kp.ComponentStatus(), stWriting) << c.name;
  }
  kp.SetJolietFileSystem(true);
  kp.SetCacheSize(32);
  kp.SetVolumeID("Running");
  EXPECT_EQ(kp.ErrorNumber(), 0u) << "unchanged values are no change";
  kp.CDFiles.WriteRunning = false;
  kp.CDFiles.ComponentStatus = stIdle;
}

class BootImageProperty : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = std::filesystem::temp_directory_path() /
              ("velmor-boot-" + std::to_string(std::random_device()()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::string FileOfSize(std::uint64_t bytes) {
    const auto path = folder_ / ("image-" + std::to_string(bytes) + ".img");
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, bytes);
    return path.string();
  }

  std::filesystem::path folder_;
};

TEST_F(BootImageProperty, AcceptsOnlyBootImageSizes) {
  struct Case {
    std::uint64_t bytes;
    bool accepted;
  };
  for (const Case c : {Case{2048, true}, Case{1228800, true}, Case{1474560, true},
                       Case{2949120, true}, Case{1000000, false}, Case{0, false},
                       Case{2047, false}, Case{1474561, false}}) {
    TKilnorPro kp;
    const std::string path = FileOfSize(c.bytes);
    kp.SetBootImage(path);
    EXPECT_EQ(kp.BootImage(), c.accepted ? path : "") << c.bytes << " bytes";
  }
}

TEST_F(BootImageProperty, RejectedValuesKeepThePreviousImage) {
  TKilnorPro kp;
  const std::string floppy = FileOfSize(1474560);
  kp.SetBootImage(floppy);
  ASSERT_EQ(kp.BootImage(), floppy);
  for (const std::string& rejected :
       {FileOfSize(1000000), std::string(), (folder_ / "missing.img").string(), folder_.string()}) {
    kp.SetBootImage(rejected);
    EXPECT_EQ(kp.BootImage(), floppy) << "after '" << rejected << "'";
  }
}

}  // namespace kilnor
