// El Torito: which boot images are accepted, where the boot record, catalog
// and image go, and what the catalog says.
#include <gtest/gtest.h>

#include <fstream>

#include "HeaderReader.h"
#include "LayoutFixture.h"
#include "engine/image/ElTorito.h"
#include "engine/image/ISO9660.h"

namespace kilnor::test {
namespace {

std::string MakeImage(const TTempDir& dir, const std::string& name, std::size_t bytes) {
  const std::string path = (dir.path() / name).string();
  std::ofstream(path, std::ios::binary) << std::string(bytes, '\xAA');
  return path;
}

struct TBootCase {
  const char* Name;
  std::size_t Bytes;
  std::uint8_t MediaType;
  std::uint16_t SectorCount;
};

class ElToritoSizes : public testing::TestWithParam<TBootCase> {};

TEST_P(ElToritoSizes, EachAcceptedSizeSelectsItsEmulation) {
  const TBootCase& b = GetParam();
  TTempDir dir;
  TCompilation c;
  ASSERT_TRUE(SetBootImageFile(c.cd, MakeImage(dir, "boot.img", b.Bytes)));
  EXPECT_EQ(c.cd.BootImageSize, static_cast<std::int32_t>(b.Bytes));
  Prepare(c.cd);
  EXPECT_EQ(c.cd.BootImageLocation, 150u);
  EXPECT_EQ(c.cd.FirstDataSector, 150u + (b.Bytes + 2047) / 2048);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  const std::uint32_t catalog = c.cd.BootCatalogLocation;
  EXPECT_EQ(h.U8(catalog, 32), 0x88);
  EXPECT_EQ(h.U8(catalog, 33), b.MediaType);
  EXPECT_EQ(h.Le16(catalog, 38), b.SectorCount);
}

INSTANTIATE_TEST_SUITE_P(Cases, ElToritoSizes,
                         testing::Values(TBootCase{"NoEmulation", 2048, 0, 4},
                                         TBootCase{"Floppy12", 1228800, 1, 1},
                                         TBootCase{"Floppy144", 1474560, 2, 1},
                                         TBootCase{"Floppy288", 2949120, 3, 1}),
                         [](const testing::TestParamInfo<TBootCase>& info) { return info.param.Name; });

TEST(ElTorito, EmptyCompilationWithJolietAndANoEmulationImage) {
  TTempDir dir;
  TCompilation c;
  ASSERT_TRUE(SetBootImageFile(c.cd, MakeImage(dir, "boot.img", 2048)));
  Prepare(c.cd);
  EXPECT_EQ(c.cd.PathTableExtentL, 20u);
  EXPECT_EQ(c.cd.path_table_extent_j_m, 23u);
  EXPECT_EQ(c.cd.FileDirDescriptorExtent, 24u);
  EXPECT_EQ(c.cd.file_and_dir_descriptor_extent_j, 25u);
  EXPECT_EQ(c.cd.BootCatalogLocation, 26u);
  EXPECT_EQ(c.cd.BootImageLocation, 150u);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  EXPECT_EQ(h.Text(16, 0, 6), "\x01" "CD001");
  EXPECT_EQ(h.Text(17, 0, 30), std::string("\0CD001\x01" "EL TORITO SPECIFICATION", 30));
  EXPECT_EQ(h.Le32(17, 71), 26u);
  EXPECT_EQ(h.U8(18, 0), 2) << "Joliet descriptor";
  EXPECT_EQ(h.U8(19, 0), 0xFF);
  EXPECT_EQ(h.Le32(26, 40), 150u);
  EXPECT_EQ(h.Text(26, 4, 20), std::string("Quelm CD/DVD Burner\0", 20));
  EXPECT_EQ(h.U8(26, 30), 0x55);
  EXPECT_EQ(h.U8(26, 31), 0xAA);
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 32; i += 2) sum = static_cast<std::uint16_t>(sum + h.Le16(26, i));
  EXPECT_EQ(sum, 0) << "the validation entry sums to zero";

  c.cd.FirstWritableSector = 5000;
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader shifted(c.cd);
  EXPECT_EQ(shifted.Le32(17, 71), 5026u);
  EXPECT_EQ(shifted.Le32(26, 40), 5150u);
}

TEST(ElTorito, RefusedImagesClearTheBootImage) {
  TTempDir dir;
  TCompilation c;
  const std::string good = MakeImage(dir, "good.img", 1474560);
  ASSERT_TRUE(SetBootImageFile(c.cd, good));
  Prepare(c.cd);
  EXPECT_FALSE(SetBootImageFile(c.cd, MakeImage(dir, "odd.img", 4096)));
  EXPECT_TRUE(c.cd.BootImage.empty());
  EXPECT_FALSE(c.cd.Prepared) << "the boot image is part of the layout";
  ASSERT_TRUE(SetBootImageFile(c.cd, good));
  EXPECT_FALSE(SetBootImageFile(c.cd, (dir.path() / "missing.img").string()));
  EXPECT_TRUE(c.cd.BootImage.empty());
  ASSERT_TRUE(SetBootImageFile(c.cd, good));
  EXPECT_TRUE(SetBootImageFile(c.cd, ""));
  EXPECT_TRUE(c.cd.BootImage.empty());
}

TEST(ElTorito, ABootImageSetAfterPrepareMakesTheLayoutStale) {
  TTempDir dir;
  TCompilation c;
  Prepare(c.cd);
  c.cd.BootImage = MakeImage(dir, "boot.img", 2048);  // even past the setter
  c.cd.BootImageSize = 2048;
  EXPECT_FALSE(GenerateHeader(c.cd));
}

}  // namespace
}  // namespace kilnor::test
