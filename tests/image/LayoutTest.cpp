// The sector map, path tables, directory extents and file addresses that
// Prepare lays out, read back from the header as it streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "HeaderReader.h"
#include "LayoutFixture.h"
#include "engine/image/ISO9660.h"

namespace kilnor::test {
namespace {

TEST(Layout, EmptyCompilationWithJolietFillsTheFirst160Sectors) {
  TCompilation c;
  EXPECT_EQ(Prepare(c.cd), 150u);
  const TCDFiles& cd = c.cd;
  EXPECT_EQ(cd.PathTableWidth, 10u);
  EXPECT_EQ(cd.PathTableWidthJ, 10u);
  EXPECT_EQ(cd.PathTableExtentL, 19u);
  EXPECT_EQ(cd.path_table_extent_m, 20u);
  EXPECT_EQ(cd.path_table_extent_j_l, 21u);
  EXPECT_EQ(cd.path_table_extent_j_m, 22u);
  EXPECT_EQ(cd.FileDirDescriptorExtent, 23u);
  EXPECT_EQ(cd.file_and_dir_descriptor_extent_j, 24u);
  EXPECT_EQ(cd.Blank, 125);
  EXPECT_EQ(cd.FirstDataSector, 150u);
  EXPECT_EQ(cd.FilesSize, 0u);
  EXPECT_EQ(cd.TotalImageSize, 160u);
  EXPECT_EQ(cd.ComponentStatus, stIdle);

  ASSERT_TRUE(GenerateHeader(c.cd));
  EXPECT_EQ(cd.IsoHeaderSize, 150 * 2048);
  THeaderReader h(cd);
  EXPECT_EQ(h.Text(16, 0, 6), "\x01" "CD001");
  EXPECT_EQ(h.Text(17, 0, 6), "\x02" "CD001");
  EXPECT_EQ(h.Text(18, 0, 6), "\xff" "CD001");
  EXPECT_EQ(h.Le32(16, 80), 160u);
  EXPECT_EQ(h.Be32(16, 84), 160u);
  EXPECT_EQ(h.Le32(16, 156 + 2), 23u);  // root record of the primary descriptor
  EXPECT_EQ(h.Le32(17, 156 + 2), 24u);  // and of the Joliet one
  EXPECT_EQ(h.Text(16, 88, 3), std::string(3, '\0')) << "the primary descriptor carries no escape";
  EXPECT_EQ(h.Text(17, 88, 3), "%/@");
  EXPECT_EQ(h.Le32(19, 2), 23u);        // path table L: root extent
  EXPECT_EQ(h.Be32(20, 2), 23u);        // path table M
  EXPECT_EQ(h.Le32(21, 2), 24u);        // Joliet path table L
}

struct TSwitchCase {
  const char* Name;
  bool Joliet;
  bool Iso1999;
  std::uint32_t Terminator;
  std::uint32_t PathTableL;
  std::uint32_t Directories;
};

class LayoutSwitches : public testing::TestWithParam<TSwitchCase> {};

TEST_P(LayoutSwitches, DescriptorsAndAreasFollowEachOther) {
  const TSwitchCase& s = GetParam();
  TCompilation c;
  c.cd.JolietFS = s.Joliet;
  c.cd.ISO9660v1999FS = s.Iso1999;
  Prepare(c.cd);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  EXPECT_EQ(h.U8(s.Terminator, 0), 0xFF);
  EXPECT_EQ(c.cd.PathTableExtentL, s.PathTableL);
  EXPECT_EQ(c.cd.FileDirDescriptorExtent, s.Directories);
  EXPECT_EQ(c.cd.TotalImageSize, 160u);
  EXPECT_EQ(h.Text(16, 88, 3), std::string(3, '\0'));
  if (s.Iso1999) {
    EXPECT_EQ(h.U8(17, 0), 2);
    EXPECT_EQ(h.U8(17, 6), 2) << "enhanced descriptor version";
    EXPECT_EQ(h.U8(17, 881), 2);
    EXPECT_EQ(h.Text(17, 88, 3), std::string(3, '\0'));
    EXPECT_EQ(h.Le32(17, 156 + 2), c.cd.FileDirDescriptorExtent) << "describes the primary tree";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LayoutSwitches,
    testing::Values(TSwitchCase{"JolietOff", false, false, 17, 18, 20},
                    TSwitchCase{"Iso1999", false, true, 18, 19, 21},
                    TSwitchCase{"Iso1999AndJoliet", true, true, 19, 20, 24}),
    [](const testing::TestParamInfo<TSwitchCase>& info) { return info.param.Name; });

TEST(Layout, RecordsNeverCrossASectorBoundary) {
  TCompilation c;
  for (int i = 0; i < 60; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "file%04d.txt", i);
    c.AddFile(c.root(), std::u16string(name, name + 12), 1);
  }
  std::u16string longName(110, u'j');
  pDirEntry seven = c.AddDir(c.root(), u"seven");
  for (int i = 0; i < 7; ++i) {
    longName[0] = static_cast<char16_t>(u'a' + i);
    c.AddFile(seven, longName, 1);
  }
  Prepare(c.cd);
  ASSERT_TRUE(GenerateHeader(c.cd));
  EXPECT_EQ(c.cd.RootDir->DirSize, 2 * 2048) << "43 records of 46 bytes fit the first sector";
  EXPECT_EQ(seven->DirSizeJ, 2048) << "seven 254-byte Joliet records fit after the dot records";
  c.AddFile(seven, std::u16string(110, u'z'), 1);
  Prepare(c.cd);
  EXPECT_EQ(seven->DirSizeJ, 2 * 2048);

  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  const auto records = h.Records(c.cd.FileDirDescriptorExtent + c.cd.RootDir->Address, c.cd.RootDir->DirSize);
  ASSERT_EQ(records.size(), 61u) << "60 files and the directory";
  EXPECT_EQ(records[42].Offset, 68u + 42 * 46);
  EXPECT_EQ(records[43].Offset, 2048u) << "the 44th record begins the second sector";
}

TEST(Layout, FileDataFollowsInInsertionOrderFromSectorBoundaries) {
  TCompilation c;
  pFileEntry empty = c.AddFile(c.root(), u"empty.bin", 0);
  pFileEntry one = c.AddFile(c.root(), u"one.bin", 1);
  pFileEntry full = c.AddFile(c.root(), u"full.bin", 2048);
  pFileEntry twin = c.AddFile(c.root(), u"twin.bin", 2048);
  twin->ReferenceEntry = full;
  pFileEntry imported = c.AddFile(c.root(), u"old.bin", 5000);
  imported->Imported = true;
  imported->Address = 777;
  pFileEntry last = c.AddFile(c.root(), u"last.bin", 2049);
  EXPECT_EQ(Prepare(c.cd), 150u + 4);
  EXPECT_EQ(empty->Address, 0u);
  EXPECT_EQ(one->Address, 0u);
  EXPECT_EQ(full->Address, 1u);
  EXPECT_EQ(twin->Address, 1u);
  EXPECT_EQ(imported->Address, 777u);
  EXPECT_EQ(last->Address, 2u);
  EXPECT_EQ(c.cd.FilesSize, 4u);
  EXPECT_EQ(c.cd.TotalImageSize, 160u);

  c.cd.FirstWritableSector = 1000;
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  std::map<std::string, TRecordView> byName;
  for (const TRecordView& r : h.Records(c.cd.FileDirDescriptorExtent, c.cd.RootDir->DirSize)) byName[r.Identifier] = r;
  EXPECT_EQ(byName["EMPTY.BIN"].Extent, 0u);
  EXPECT_EQ(byName["EMPTY.BIN"].DataLength, 0u);
  EXPECT_EQ(byName["ONE.BIN"].Extent, 1150u);
  EXPECT_EQ(byName["TWIN.BIN"].Extent, 1151u);
  EXPECT_EQ(byName["OLD.BIN"].Extent, 777u) << "imported extents are absolute";
  EXPECT_EQ(byName["LAST.BIN"].DataLength, 2049u);
  EXPECT_EQ(h.Le32(16, 140), c.cd.PathTableExtentL + 1000) << "session start shifts every address";
  EXPECT_EQ(h.Le32(16, 156 + 2), c.cd.FileDirDescriptorExtent + 1000);
}

TEST(Layout, HasNewDataIsTheOneRuleForLayoutAndStream) {
  TCompilation c;
  pFileEntry file = c.AddFile(c.root(), u"a.bin", 10);
  pFileEntry empty = c.AddFile(c.root(), u"b.bin", 0);
  pFileEntry imported = c.AddFile(c.root(), u"c.bin", 10);
  imported->Imported = true;
  pFileEntry twin = c.AddFile(c.root(), u"d.bin", 10);
  twin->ReferenceEntry = file;
  c.AddDir(c.root(), u"dir");
  EXPECT_TRUE(HasNewData(*file));
  EXPECT_FALSE(HasNewData(*empty));
  EXPECT_FALSE(HasNewData(*imported));
  EXPECT_FALSE(HasNewData(*twin));
  EXPECT_FALSE(HasNewData(*c.cd.Files.back()));
}

TEST(Layout, PathTableIsOrderedByDepthParentAndNameWhileExtentsKeepCreationOrder) {
  TCompilation c;
  pDirEntry b = c.AddDir(c.root(), u"b");
  pDirEntry a = c.AddDir(c.root(), u"a");
  pDirEntry deep = c.AddDir(b, u"c");
  c.AddDir(a, u"z");
  Prepare(c.cd);
  EXPECT_LT(b->Address, a->Address);
  EXPECT_EQ(a->number, 2);
  EXPECT_EQ(b->number, 3);
  EXPECT_EQ(deep->number, 5) << "children follow in their parents' order";
  EXPECT_EQ(deep->depth, 2);
  ASSERT_EQ(c.cd.PathTableEntries.size(), 5u);
  EXPECT_EQ(c.cd.PathTableEntries[1], a);

  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  // Second record of the L table: "A", parent 1, at the extent of a.
  EXPECT_EQ(h.U8(c.cd.PathTableExtentL, 10), 1);
  EXPECT_EQ(h.Le32(c.cd.PathTableExtentL, 12), c.cd.FileDirDescriptorExtent + a->Address);
  EXPECT_EQ(h.Le16(c.cd.PathTableExtentL, 16), 1);
  EXPECT_EQ(h.Text(c.cd.PathTableExtentL, 18, 1), "A");
  EXPECT_EQ(h.Be32(c.cd.path_table_extent_m, 12), c.cd.FileDirDescriptorExtent + a->Address);
}

TEST(Layout, IsoIdentifiersAreMadeUniqueInTheIsoTreeOnly) {
  TCompilation c;
  pFileEntry first = c.AddFile(c.root(), u"My long document A.txt", 1);
  pFileEntry second = c.AddFile(c.root(), u"My long document B.txt", 1);
  pDirEntry dirOne = c.AddDir(c.root(), u"Directory number 1");
  pDirEntry dirTwo = c.AddDir(c.root(), u"Directory number 2");
  Prepare(c.cd);
  EXPECT_EQ(first->IdentifierISO, "MY LONG DOCU.");
  EXPECT_EQ(second->IdentifierISO, "MY LONG DO~1.");
  EXPECT_STREQ(second->ShortName, "MY LONG DOCU.") << "the compilation keeps its names";
  EXPECT_EQ(dirOne->OwnEntry->IdentifierISO, "DIRECTORY NU");
  EXPECT_NE(dirTwo->OwnEntry->IdentifierISO, dirOne->OwnEntry->IdentifierISO);
  EXPECT_TRUE(second->Extras.get().IdentifierJoliet.empty()) << "Joliet names are already unique";

  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  std::string pathTableIds;
  for (std::uint32_t off = 10; off < c.cd.PathTableWidth;) {
    const std::uint8_t len = h.U8(c.cd.PathTableExtentL, off);
    pathTableIds += h.Text(c.cd.PathTableExtentL, off + 8, len) + "|";
    off += 8 + len + len % 2;
  }
  std::string recordIds;
  for (const TRecordView& r : h.Records(c.cd.FileDirDescriptorExtent, c.cd.RootDir->DirSize))
    if (r.Flags & 2) recordIds += r.Identifier + "|";
  EXPECT_EQ(pathTableIds, recordIds) << "path table and records name directories alike";
}

TEST(Layout, LongJolietNamesAreShortenedKeepingExtensionAndPairs) {
  TCompilation c;
  const std::u16string stem(120, u'n');
  pFileEntry a = c.AddFile(c.root(), stem + u"1.txt", 1);
  pFileEntry b = c.AddFile(c.root(), stem + u"2.txt", 1);
  // A non-BMP character straddling the cut: 104 units, then a pair.
  pFileEntry pair = c.AddFile(c.root(), std::u16string(104, u'p') + u"\U0001F600\U0001F600" + u"x.dat", 1);
  pFileEntry fits = c.AddFile(c.root(), std::u16string(110, u'f'), 1);
  Prepare(c.cd);
  EXPECT_EQ(a->Extras.get().IdentifierJoliet, stem.substr(0, 106) + u".txt");
  ASSERT_EQ(b->Extras.get().IdentifierJoliet.size(), 110u);
  EXPECT_EQ(b->Extras.get().IdentifierJoliet.substr(104), u"~1.txt");
  EXPECT_EQ(pair->Extras.get().IdentifierJoliet, std::u16string(104, u'p') + u"\U0001F600" + u".dat")
      << "the cut falls before a pair, never inside it";
  EXPECT_TRUE(fits->Extras.get().IdentifierJoliet.empty());
  EXPECT_EQ(a->LongName, stem + u"1.txt") << "the compilation keeps its names";

  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  bool found = false;
  for (const TRecordView& r : h.Records(c.cd.file_and_dir_descriptor_extent_j, c.cd.RootDir->DirSizeJ))
    found = found || r.Identifier == Ucs2(b->Extras.get().IdentifierJoliet);
  EXPECT_TRUE(found);
}

TEST(Layout, FilesOf4GiBOrMoreAreRecordedAsWholeSectorExtents) {
  TCompilation c;
  const std::int64_t size = (std::int64_t{1} << 32) + 1;
  pFileEntry big = c.AddFile(c.root(), u"big.bin", size);
  pFileEntry after = c.AddFile(c.root(), u"small.bin", 1);
  Prepare(c.cd);
  EXPECT_EQ(after->Address, 2097153u);
  EXPECT_EQ(c.cd.FilesSize, 2097154u);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  for (bool joliet : {false, true}) {
    const auto records = joliet ? h.Records(c.cd.file_and_dir_descriptor_extent_j, c.cd.RootDir->DirSizeJ)
                                : h.Records(c.cd.FileDirDescriptorExtent, c.cd.RootDir->DirSize);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Flags, 0x80) << "more extents follow";
    EXPECT_EQ(records[0].DataLength, 0xFFFFF800u);
    EXPECT_EQ(records[0].Extent, c.cd.FirstDataSector + big->Address);
    EXPECT_EQ(records[1].Flags, 0);
    EXPECT_EQ(records[1].DataLength, 0x801u);
    EXPECT_EQ(records[1].Extent, records[0].Extent + 0xFFFFF800u / 2048);
    EXPECT_EQ(records[1].Identifier, records[0].Identifier);
  }
}

TEST(Layout, ChangesAfterPrepareMakeTheLayoutStale) {
  TCompilation c;
  Prepare(c.cd);
  EXPECT_TRUE(LayoutIsCurrent(c.cd));
  c.cd.JolietFS = false;
  EXPECT_FALSE(LayoutIsCurrent(c.cd));
  EXPECT_FALSE(GenerateHeader(c.cd));
  EXPECT_TRUE(c.cd.isom.empty());
  Prepare(c.cd);
  EXPECT_TRUE(GenerateHeader(c.cd));
  c.cd.Prepared = false;  // what every insert does
  EXPECT_FALSE(GenerateHeader(c.cd));
}

// Addresses and the volume size are 32-bit sector counts: a session past
// them is refused at Prepare instead of wrapping into a small plausible size.
TEST(Layout, ASessionPastWhatItsFieldsHoldIsRefused) {
  constexpr std::int64_t kTiB = std::int64_t{1} << 40;
  const struct {
    const char* Name;
    std::vector<std::int64_t> Sizes;
  } cases[] = {{"one 9 TiB file", {9 * kTiB}}, {"three 3 TiB files", {3 * kTiB, 3 * kTiB, 3 * kTiB}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TCompilation comp;
    for (std::size_t i = 0; i < c.Sizes.size(); ++i) {
      comp.AddFile(comp.root(), u"big" + std::u16string(1, char16_t(u'0' + i)) + u".bin", c.Sizes[i]);
    }
    EXPECT_EQ(Prepare(comp.cd), 0u);
    EXPECT_FALSE(comp.cd.Prepared);
    EXPECT_NE(comp.cd.PrepareError.find("4831838" ), std::string::npos) << comp.cd.PrepareError;
    EXPECT_NE(comp.cd.PrepareError.find("at most 4294967295 sectors"), std::string::npos) << comp.cd.PrepareError;
    EXPECT_FALSE(GenerateHeader(comp.cd));
  }
  TCompilation fits;
  fits.AddFile(fits.root(), u"large.bin", 7 * kTiB);
  EXPECT_GT(Prepare(fits.cd), 0u) << fits.cd.PrepareError;
  EXPECT_TRUE(fits.cd.PrepareError.empty());
  EXPECT_EQ(fits.cd.FilesSize, 7u * (1u << 29));
}

TEST(Layout, LabelsAreCutAtCharacterBoundaries) {
  TCompilation c;
  c.SetLabel("abcdefghijklmnopqrstuvwxyz01234\xC3\xA9");  // 31 ASCII + é: 33 bytes
  Prepare(c.cd);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  EXPECT_EQ(h.Text(16, 40, 32), "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234 ") << "no half character";
  EXPECT_EQ(h.Text(17, 40, 4), Ucs2(u"ab"));
  EXPECT_EQ(h.Text(17, 40 + 30, 2), Ucs2(u"p"));
}

TEST(Layout, HeaderSizeMatchesTheLayoutWithManyDirectories) {
  TCompilation c;
  pDirEntry parent = c.root();
  for (int depth = 0; depth < 8; ++depth) parent = c.AddDir(parent, u"level" + std::u16string(1, u'0' + depth));
  for (int i = 0; i < 3000; ++i) {
    const std::string name = "file-" + std::to_string(i);
    c.AddFile(c.root(), std::u16string(name.begin(), name.end()), 3);
  }
  Prepare(c.cd);
  EXPECT_GT(c.cd.HeaderSectors, 150u);
  EXPECT_EQ(c.cd.FirstDataSector, c.cd.HeaderSectors) << "no padding when the header reaches past 150";
  EXPECT_EQ(c.cd.Blank, 150 - static_cast<std::int32_t>(c.cd.HeaderSectors));
  EXPECT_EQ(c.cd.TotalImageSize % 32, 0u);
  ASSERT_TRUE(GenerateHeader(c.cd));
  EXPECT_EQ(c.cd.IsoHeaderSize, std::int64_t{c.cd.HeaderSectors} * 2048);
}

// A compilation whose directory areas reach past sector 150: 40 folders of
// 60 files with long names, several sectors of records each.
void AddManyFolders(TCompilation& c) {
  for (int d = 0; d < 40; ++d) {
    const std::string folder = "folder-" + std::to_string(d);
    const pDirEntry dir = c.AddDir(c.root(), std::u16string(folder.begin(), folder.end()));
    for (int f = 0; f < 60; ++f) {
      const std::string name = "a file with a rather long name, number " + std::to_string(f) + ".txt";
      c.AddFile(dir, std::u16string(name.begin(), name.end()), 100);
    }
  }
}

// The header streams piece by piece: however the stream asks for it, it is
// the same bytes, and nothing past its end is handed out.
TEST(Layout, TheHeaderStreamsTheSameBytesInAnyChunks) {
  TCompilation c;
  AddManyFolders(c);
  ASSERT_GT(Prepare(c.cd), 0u);
  ASSERT_TRUE(GenerateHeader(c.cd));
  const std::vector<std::uint8_t> whole = WholeHeader(c.cd);
  ASSERT_EQ(whole.size(), std::size_t{c.cd.HeaderSectors} * 2048);
  ASSERT_GT(c.cd.HeaderSectors, 150u);
  EXPECT_EQ(c.cd.isom.size(), std::size_t{c.cd.UpFrontSectors} * 2048) << "only what is known up front";
  EXPECT_TRUE(std::equal(c.cd.isom.begin(), c.cd.isom.end(), whole.begin()));
  for (std::size_t chunk : {1u, 3u, 32u, 1000u}) {
    THeaderGenerator generator(c.cd);
    std::vector<std::uint8_t> streamed(whole.size());
    for (std::size_t at = 0; at < streamed.size();) {
      const std::size_t n = std::min(chunk * 2048, streamed.size() - at);
      ASSERT_TRUE(generator.Generate(std::span(streamed).subspan(at, n))) << chunk << " sectors at " << at;
      at += n;
    }
    EXPECT_EQ(streamed, whole) << chunk << " sectors a call";
    std::vector<std::uint8_t> past(2048);
    EXPECT_FALSE(generator.Generate(past)) << "nothing past the header";
  }
}

TEST(Layout, AHeaderStreamStopsWhenTheLayoutGoesStale) {
  TCompilation c;
  AddManyFolders(c);
  ASSERT_GT(Prepare(c.cd), 0u);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderGenerator generator(c.cd);
  std::vector<std::uint8_t> sectors(std::size_t{c.cd.UpFrontSectors + 4} * 2048);
  ASSERT_TRUE(generator.Generate(sectors));
  c.cd.JolietFS = false;
  EXPECT_FALSE(generator.Generate(sectors)) << "a changed compilation is not streamed half old, half new";
}

TEST(Layout, Iso1999IdentifiersAreLongNamesWithinTheirLimit) {
  TCompilation c;
  c.cd.ISO9660v1999FS = true;
  const std::u16string stem(212, u'x');
  pFileEntry a = c.AddFile(c.root(), stem + u"a.dat", 1);
  pFileEntry b = c.AddFile(c.root(), stem + u"b.dat", 1);
  pFileEntry mixed = c.AddFile(c.root(), u"Mixed Case.txt", 1);
  Prepare(c.cd);
  EXPECT_EQ(mixed->IdentifierISO, "Mixed Case.txt") << "case is kept";
  EXPECT_EQ(a->IdentifierISO.size(), 207u);
  EXPECT_EQ(a->IdentifierISO.substr(203), ".dat");
  EXPECT_EQ(b->IdentifierISO.size(), 207u);
  EXPECT_NE(a->IdentifierISO, b->IdentifierISO);
  ASSERT_TRUE(GenerateHeader(c.cd));
  THeaderReader h(c.cd);
  std::size_t longest = 0;
  for (const TRecordView& r : h.Records(c.cd.FileDirDescriptorExtent, c.cd.RootDir->DirSize))
    longest = std::max(longest, r.Identifier.size());
  EXPECT_EQ(longest, 207u);
}

}  // namespace
}  // namespace kilnor::test
