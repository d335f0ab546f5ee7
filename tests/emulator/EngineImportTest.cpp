// Session import and the volume label through the component, on discs the
// emulated recorder holds: a disc made from an image imports exactly the tree
// that mounting the image gives; a blank disc, a missing medium, a session
// the disc does not hold and a failing read import nothing and say why.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "LibraryStateDir.h"
#include "engine/KilnorPro.h"
#include "engine/platform/Unicode.h"
#include "engine/write/ErrorTexts.h"

namespace velmor::emu::test {
namespace {

namespace fs = std::filesystem;

bool HaveXorriso() { return std::system("command -v xorriso >/dev/null 2>&1") == 0; }

// The image every disc of these tests is made from:
//   xorriso -as mkisofs -J -V EMULATED -o IMAGE SRC
// of a.txt, sub/b.bin (70,000 bytes) and an empty folder.
fs::path MakeImage(const fs::path& folder) {
  const fs::path src = folder / "src";
  fs::create_directories(src / "sub" / "empty folder");
  std::ofstream(src / "a.txt") << "hello";
  std::ofstream(src / "sub" / "b.bin") << std::string(70000, 'b');
  const fs::path image = folder / "disc.iso";
  const std::string command = "xorriso -as mkisofs -J -V EMULATED -o '" + image.string() + "' '" + src.string() +
                              "' >/dev/null 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  return image;
}

void ListEntries(kilnor::pDirEntry dir, const std::string& path, std::set<std::string>& lines) {
  for (kilnor::pFileEntry e = dir->Files; e != nullptr; e = e->NextFile) {
    const std::string name = path + "/" + kilnor::Utf16ToUtf8(e->LongName);
    lines.insert(e->DirRecord ? name + "/"
                              : name + " " + std::to_string(e->FileSize) + " @" + std::to_string(e->Address) +
                                    (e->Imported ? " imported" : ""));
    if (e->DirRecord) ListEntries(e->DirRecord, name, lines);
  }
}

std::set<std::string> Listing(const kilnor::TKilnorPro& kp) {
  std::set<std::string> lines;
  ListEntries(kp.CDFiles.RootDir, "", lines);
  return lines;
}

class EngineImportTest : public ::testing::TestWithParam<TMediumKind> {
 protected:
  EngineImportTest() : Helper(LibraryStateDir()) {}

  void SetUp() override {
    if (!HaveXorriso()) GTEST_SKIP() << "xorriso is not installed";
    Image = MakeImage(Scratch.Path);
  }

  void Insert(TMediumKind Kind, const std::string& ImagePath) {
    std::string error;
    ASSERT_TRUE(Helper.WithDrive(0, [&](TDrive& d) {
      d.ClearFaults();
      return d.InsertNew(Kind, std::nullopt, ImagePath, error);
    })) << error;
  }

  void Select(kilnor::TKilnorPro& kp) {
    ASSERT_TRUE(kp.InitializeASPI(true, RecorderLibraryPath(), ""));
    ASSERT_TRUE(kp.SelectDevice(0));
    kp.ClearAll();
  }

  // What importing fails with: nothing added, the component idle.
  void ExpectRefused(kilnor::TKilnorPro& kp, std::uint16_t Session, const std::string& Reason,
                     std::uint32_t Error = kilnor::erImportFailed) {
    ASSERT_NE(kp.CreateDir("\\", "mine"), nullptr);
    EXPECT_EQ(kp.ImportSession(Session, "\\"), -1);
    EXPECT_NE(kp.LastImport().Reason.find(Reason), std::string::npos) << kp.LastImport().Reason;
    EXPECT_EQ(kp.ErrorNumber(), Error);
    EXPECT_EQ(kp.ComponentStatus(), kilnor::stIdle);
    EXPECT_EQ(Listing(kp), (std::set<std::string>{"/mine/"}));
  }

  TTempDir Scratch;
  TEmulator Helper;
  fs::path Image;
};

TEST_P(EngineImportTest, ADiscMadeFromAnImageImportsTheImagesTreeAndLabel) {
  Insert(GetParam(), Image.string());
  kilnor::TKilnorPro mounted;
  mounted.ClearAll();
  ASSERT_TRUE(mounted.MountISOImage(Image.string())) << mounted.LastImport().Reason;

  kilnor::TKilnorPro kp;
  Select(kp);
  EXPECT_EQ(kp.ReadVolumeLabelOfDisc(0), u"EMULATED");
  ASSERT_EQ(kp.ImportSession(0, "\\"), 1) << kp.LastImport().Reason;
  EXPECT_EQ(kp.ComponentStatus(), kilnor::stIdle);
  EXPECT_EQ(Listing(kp), Listing(mounted));
  EXPECT_TRUE(Listing(kp).contains("/sub/b.bin 70000 @" +
                                   std::to_string(kp.FileAddress(kp.FindFile("\\sub", "b.bin")) / 2048) +
                                   " imported"));
  // The same session again adds nothing; into a folder that does not exist
  // it goes to the root.
  ASSERT_EQ(kp.ImportSession(1, "\\no such folder"), 1);
  EXPECT_EQ(Listing(kp), Listing(mounted));
}

INSTANTIATE_TEST_SUITE_P(Media, EngineImportTest,
                         ::testing::Values(TMediumKind::CdR, TMediumKind::DvdPlusR, TMediumKind::BdR,
                                           TMediumKind::DvdPlusRw, TMediumKind::BdRe),
                         [](const ::testing::TestParamInfo<TMediumKind>& Info) {
                           std::string name(Traits(Info.param).Name);
                           for (char& c : name)
                             if (c == '-' || c == '+') c = c == '+' ? 'P' : '_';
                           return name;
                         });

using EngineImportFailureTest = EngineImportTest;

TEST_F(EngineImportFailureTest, ABlankDiscHasNoLabelAndImportsNothing) {
  Insert(TMediumKind::CdR, "");
  kilnor::TKilnorPro kp;
  Select(kp);
  EXPECT_EQ(kp.ReadVolumeLabelOfDisc(0), u"");
  ExpectRefused(kp, 0, "the disc is blank");
}

TEST_F(EngineImportFailureTest, ASessionTheDiscDoesNotHoldImportsNothing) {
  Insert(TMediumKind::CdR, Image.string());
  kilnor::TKilnorPro kp;
  Select(kp);
  EXPECT_EQ(kp.ReadVolumeLabelOfDisc(2), u"");
  ExpectRefused(kp, 2, "holds 1 session(s), not 2");
}

TEST_F(EngineImportFailureTest, NoMediumImportsNothing) {
  Insert(TMediumKind::CdR, Image.string());
  Helper.WithDrive(0, [](TDrive& d) { d.RemoveMedium(); });
  kilnor::TKilnorPro kp;
  Select(kp);
  ExpectRefused(kp, 0, "no medium in the drive");
}

// The third READ (10) is the root directory's (after the primary and the
// Joliet descriptor): it fails with an unrecovered read error, 3/11/00.
TEST_F(EngineImportFailureTest, AFailingReadImportsNothingAndReportsTheDrivesSense) {
  Insert(TMediumKind::DvdPlusR, Image.string());
  TFault fault;
  fault.Type = TFaultType::FailCommand;
  fault.Opcode = 0x28;
  fault.Count = 3;
  fault.Sense = sense::Make(sense::kMediumError, 0x11, 0x00);
  Helper.WithDrive(0, [&](TDrive& d) { d.ArmFault(fault); });
  kilnor::TKilnorPro kp;
  Select(kp);
  ExpectRefused(kp, 0, "cannot read directory \\ at sector", 0x1100);
}

}  // namespace
}  // namespace velmor::emu::test
