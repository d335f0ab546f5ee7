// What a burn leaves on the medium beyond the data: a finalised disc takes no
// further session, a test write records nothing, and what cannot be
// recorded is refused before a sector is written. ISO image files are
// recorded byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "BurnFixtures.h"
#include "tests/device/EmulatedDrive.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

struct TKindCase {
  const char* Kind;
  const char* Name;
};

std::string FileBytes(const fs::path& Path) {
  std::ifstream in(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- Finalising ----------------------------------------------------------------

class BurnFinalised : public BurnTest, public testing::WithParamInterface<TKindCase> {};

TEST_P(BurnFinalised, FinalisedDiscIsClosedAndRefusesAFurtherBurn) {
  InsertMedium(GetParam().Kind);
  const fs::path src = SmallSource();
  kp.SetFinalizeDisc(true);
  ASSERT_TRUE(Burn(src));
  EXPECT_EQ(EmulatorMedium().State, "closed");
  ExpectExtractedTreeIs(Export("medium.iso"), src, scratch.path());

  const std::uint32_t recorded = EmulatorMedium().Recorded;
  EXPECT_FALSE(Burn(src));
  EXPECT_EQ(Error, "The disc cannot be written: it is finalised or not recordable");
  EXPECT_EQ(EmulatorMedium().Recorded, recorded);
}

INSTANTIATE_TEST_SUITE_P(Media, BurnFinalised,
                         testing::Values(TKindCase{"cd-r", "CDR"}, TKindCase{"cd-rw", "CDRW"},
                                         TKindCase{"dvd-r", "DVDR"},
                                         TKindCase{"dvd+r", "DVDPlusR"}, TKindCase{"dvd+r-dl", "DVDPlusRDL"},
                                         TKindCase{"bd-r", "BDR"}),
                         TNamedCase());

TEST_F(BurnTest, WithoutFinalisingASequentialDiscStaysAppendable) {
  InsertMedium("dvd+r");
  const fs::path src = SmallSource();
  ASSERT_TRUE(Burn(src));
  EXPECT_EQ(EmulatorMedium().State, "appendable");
}

// ---- Test write ----------------------------------------------------------------

struct TTestWriteCase {
  const char* Kind;
  const char* Name;
  bool Simulated;
};

class BurnTestWrite : public BurnTest, public testing::WithParamInterface<TTestWriteCase> {};

TEST_P(BurnTestWrite, RecordsNothingAndIsRefusedWhereTheMediumCannotSimulate) {
  InsertMedium(GetParam().Kind);
  const fs::path src = SmallSource();
  kp.SetTestWrite(true);
  const testing::AssertionResult burned = Burn(src);
  if (GetParam().Simulated) {
    EXPECT_TRUE(burned);
  } else {
    EXPECT_FALSE(burned);
    EXPECT_EQ(Error, "Test write is not possible on this medium: the drive would really record it");
    EXPECT_EQ(Reports, 0) << "refused before the write started";
  }
  EXPECT_EQ(EmulatorMedium().Recorded, 0u);
}

INSTANTIATE_TEST_SUITE_P(Media, BurnTestWrite,
                         testing::Values(TTestWriteCase{"cd-r", "CDR", true}, TTestWriteCase{"dvd-r", "DVDR", true},
                                         TTestWriteCase{"dvd-rw", "DVDRW", true},
                                         TTestWriteCase{"dvd+r", "DVDPlusR", false},
                                         TTestWriteCase{"dvd+rw", "DVDPlusRW", false},
                                         TTestWriteCase{"dvd-ram", "DVDRAM", false},
                                         TTestWriteCase{"bd-r", "BDR", false}, TTestWriteCase{"bd-re", "BDRE", false}),
                         TNamedCase());

// ---- Refusals before anything is written ----------------------------------------

TEST_F(BurnTest, CompilationLargerThanTheFreeSpaceIsRefused) {
  ASSERT_EQ(Emulator("insert cd-r --blocks 200"), 0);
  const fs::path src = scratch.path() / "src";
  WriteFile(src / "big.bin", Pattern(1 << 20, 4));
  EXPECT_FALSE(Burn(src));
  EXPECT_EQ(Error, "The compilation is larger than the free space on the disc");
  EXPECT_EQ(EmulatorMedium().Recorded, 0u);
}

TEST_F(BurnTest, ImportedEntryWhereTheSessionGoesIsRefused) {
  InsertMedium("dvd+r");
  const fs::path src = SmallSource();
  ASSERT_TRUE(PrepareCompilation(src));
  // An entry of an earlier session whose extent the new session would cover.
  TFileEntry& entry = *kp.CDFiles.Files.back();
  entry.Imported = true;
  entry.Address = 0;
  EXPECT_FALSE(Run([this] { return kp.Burn(); }));
  EXPECT_EQ(Error, "An imported file lies where the new session would be written");
  EXPECT_EQ(EmulatorMedium().Recorded, 0u);
}

TEST_F(BurnTest, UnknownSessionStartIsRefused) {
  InsertMedium("dvd+r");
  const fs::path src = SmallSource();
  // Both questions for the start of the session fail: the open track's next
  // writable address and the first track's start.
  ASSERT_EQ(Emulator("fault add fail-command --opcode 52 --count 2 --sense 5/24/00"), 0);
  ASSERT_EQ(Emulator("fault add fail-command --opcode 52 --sense 5/24/00"), 0);
  EXPECT_FALSE(Burn(src));
  EXPECT_EQ(Error, "The drive does not tell where the new session would start");
  EXPECT_EQ(EmulatorMedium().Recorded, 0u);
}

TEST_F(BurnTest, MissingMediumIsRefusedWithTheDrivesReason) {
  const fs::path src = SmallSource();
  ASSERT_EQ(Emulator("remove"), 0);
  EXPECT_FALSE(Burn(src));
  EXPECT_EQ(Error, "Hardware Error 14849") << "medium not present, tray closed";
}

TEST_F(BurnTest, UnpreparedCompilationIsRefused) {
  InsertMedium("dvd+r");
  EXPECT_FALSE(Run([this] { return kp.Burn(); }));
  EXPECT_EQ(Error, "Data not prepared ");
}

// ---- Image files -----------------------------------------------------------------

struct TImageCase {
  const char* Name;
  const char* Kind;
  // Makes the image at $1 from the tree at $2; empty: bytes that are no image.
  const char* Command;
};

class BurnImage : public BurnTest, public testing::WithParamInterface<TImageCase> {};

TEST_P(BurnImage, RecordsTheFileByteForByte) {
  InsertMedium(GetParam().Kind);
  const fs::path src = SmallSource();
  const fs::path image = scratch.path() / "source image.iso";
  if (std::string(GetParam().Command).empty()) {
    WriteFile(image, Pattern(100003, 5));
  } else {
    const TCommandResult made = RunTool(std::string(GetParam().Command) + " -o " + Quoted(image) + " " + Quoted(src));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
  }
  ASSERT_TRUE(Run([&] { return kp.BurnISOImageW(image.u16string()); })) << Error;
  ASSERT_FALSE(WriteFailed) << Error;
  const std::string original = FileBytes(image);
  const std::string recorded = FileBytes(Export("medium.iso"));
  ASSERT_GE(recorded.size(), original.size());
  EXPECT_TRUE(recorded.compare(0, original.size(), original) == 0) << "the medium holds the file from sector 0";
  EXPECT_EQ(recorded.find_first_not_of('\0', original.size()), std::string::npos) << "padded with zeros";
}

INSTANTIATE_TEST_SUITE_P(
    Images, BurnImage,
    testing::Values(TImageCase{"XorrisoImageOnDVDPlusR", "dvd+r", "xorriso -as mkisofs -J -R -quiet"},
                    TImageCase{"GenisoimageImageOnCDR", "cd-r", "genisoimage -J -R -quiet"},
                    TImageCase{"NoImageOnBDRE", "bd-re", ""}),
    TNamedCase());

TEST_F(BurnTest, ImageOnADiscHoldingDataIsRefused) {
  InsertMedium("cd-r");
  const fs::path src = SmallSource();
  ASSERT_TRUE(Burn(src));
  const fs::path image = scratch.path() / "image.iso";
  WriteFile(image, Pattern(4096, 6));
  EXPECT_FALSE(Run([&] { return kp.BurnISOImageW(image.u16string()); }));
  EXPECT_EQ(Error, "An image starts at sector 0: the disc must be blank or rewritable");
}

TEST_F(BurnTest, ImageFileNamesThatCannotBeUsedAreRefused) {
  InsertMedium("dvd+r");
  EXPECT_FALSE(Run([&] { return kp.BurnISOImageW(std::u16string(4096, u'a')); }));
  EXPECT_EQ(Error, "The image file name is too long");
  const fs::path missing = scratch.path() / "missing.iso";
  EXPECT_FALSE(Run([&] { return kp.BurnISOImageW(missing.u16string()); }));
  EXPECT_EQ(Error, "Error opening file \\" + missing.string() + "\\");
  EXPECT_EQ(EmulatorMedium().Recorded, 0u);
}

}  // namespace
}  // namespace kilnor::test
