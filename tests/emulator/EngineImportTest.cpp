// Session import and the volume label through the component, on discs the
// emulated recorder holds: a disc made from an image imports exactly the tree
// that mounting the image gives; a blank disc, a missing medium, a session
// the disc does not hold and a failing read import nothing and say why.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "LibraryStateDir.h"
#include "image/CompilationListing.h"
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

std::set<std::string> Listing(const kilnor::TKilnorPro& kp) {
  const std::vector<std::string> lines = kilnor::test::CompilationListing(kp.CDFiles);
  return {lines.begin(), lines.end()};
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
  for (const auto& entry : kp.CDFiles.Files)
    EXPECT_EQ(entry->Imported, entry->DirRecord == nullptr && entry->FileSize > 0) << kilnor::Utf16ToUtf8(entry->LongName);
  // The same session again adds nothing; into a folder that does not exist
  // it goes to the root.
  ASSERT_EQ(kp.ImportSession(1, "\\no such folder"), 1);
  EXPECT_EQ(Listing(kp), Listing(mounted));
}

INSTANTIATE_TEST_SUITE_P(Media, EngineImportTest,
                         ::testing::Values(TMediumKind::CdR, TMediumKind::DvdPlusR, TMediumKind::BdR,
                                           TMediumKind::DvdPlusRw, TMediumKind::BdRe),
                         [](const ::testing::TestParamInfo<TMediumKind>& Info) { return KindCaseName(Info.param); });

using EngineImportFailureTest = EngineImportTest;

struct TRefusal {
  const char* What;
  TMediumKind Kind;
  bool FromImage;      // the disc is made from the image, else blank
  bool Removed;        // the medium is taken out again
  std::uint16_t Session;
  const char* Reason;
};

const TRefusal kRefusals[] = {
    {"blank disc", TMediumKind::CdR, false, false, 0, "the disc is blank"},
    {"session the disc does not hold", TMediumKind::CdR, true, false, 2, "holds 1 session(s), not 2"},
    {"no medium", TMediumKind::CdR, true, true, 0, "no medium in the drive"},
};

TEST_F(EngineImportFailureTest, WhatHoldsNoSuchSessionHasNoLabelAndImportsNothing) {
  for (const TRefusal& refusal : kRefusals) {
    SCOPED_TRACE(refusal.What);
    Insert(refusal.Kind, refusal.FromImage ? Image.string() : "");
    if (refusal.Removed) Helper.WithDrive(0, [](TDrive& d) { d.RemoveMedium(); });
    kilnor::TKilnorPro kp;
    Select(kp);
    EXPECT_EQ(kp.ReadVolumeLabelOfDisc(refusal.Session), u"");
    ExpectRefused(kp, refusal.Session, refusal.Reason);
  }
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
