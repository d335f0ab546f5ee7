// The session reader over sessions built byte by byte: what a sound session
// imports, and what each kind of damaged or hostile record does (refused with
// a reason, nothing of the compilation changed).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/image/ISO9660.h"
#include "engine/image/SessionImport.h"
#include "engine/image/SessionWalk.h"
#include "engine/image/Tree.h"
#include "engine/platform/FileSearch.h"
#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"
#include "image/CompilationListing.h"
#include "image/SessionFixture.h"

using namespace kilnor;
using namespace kilnor::test;

namespace {

constexpr std::uint32_t kVolumeSectors = 100;
constexpr std::uint32_t kPrimaryRoot = 20;
constexpr std::uint32_t kPrimarySub = 21;
constexpr std::uint32_t kJolietRoot = 30;
constexpr std::uint32_t kJolietSub = 31;
constexpr std::uint8_t kDir = 0x02;
constexpr std::uint8_t kMore = 0x80;

// The session every case starts from (Joliet and primary trees of the same
// files):  \a.txt (5000 bytes at 50), \sub\, \sub\b (10 bytes at 60).
std::vector<TRecordSpec> JolietRootRecords() {
  return {{Ucs2(u"a.txt"), 50, 5000}, {Ucs2(u"sub"), kJolietSub, 2048, kDir}};
}

void WriteDirectory(TMemorySectors& source, std::uint32_t extent, const std::vector<TRecordSpec>& records,
                    std::uint32_t length = 2048) {
  source.At(extent).fill(0);
  std::size_t offset = PutSelfAndParent(source.At(extent), extent, length);
  for (const TRecordSpec& record : records) offset = PutRecord(source.At(extent), offset, record);
}

void WriteSession(TMemorySectors& source, const std::vector<TRecordSpec>& jolietRoot) {
  PutDescriptor(source.At(16), TDescriptorKind::Primary, kPrimaryRoot, 2048, kVolumeSectors, Bytes("VELMOR"));
  PutDescriptor(source.At(17), TDescriptorKind::Joliet, kJolietRoot, 2048, kVolumeSectors, Ucs2(u"Velmor"));
  PutTerminator(source.At(18));
  WriteDirectory(source, kPrimaryRoot, {{Bytes("A.TXT;1"), 50, 5000}, {Bytes("SUB"), kPrimarySub, 2048, kDir}});
  WriteDirectory(source, kPrimarySub, {{Bytes("B.;1"), 60, 10}});
  WriteDirectory(source, kJolietRoot, jolietRoot);
  WriteDirectory(source, kJolietSub, {{Ucs2(u"b;1"), 60, 10}});
}

class SessionImport : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearAll(cd_);
    WriteSession(source_, JolietRootRecords());
  }

  TImportReport Import(std::u16string_view destination = u"\\") {
    return ImportVolume(cd_, source_, {0, kImageCandidateSectors, 0}, LookupDir(cd_, destination));
  }

  std::vector<std::string> Listing() const { return CompilationListing(cd_); }

  TMemorySectors source_{kVolumeSectors};
  TCDFiles cd_;
};

TEST_F(SessionImport, ReadsTheJolietTreeWithItsExtentsAndLabel) {
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(report.VolumeLabel, u"Velmor");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"/a.txt 5000 @50", "/sub/", "/sub/b 10 @60"}));
  EXPECT_TRUE(cd_.Files[0]->Imported);
  EXPECT_TRUE(report.LeftOut.empty());
}

TEST_F(SessionImport, WithoutJolietReadsThePrimaryTreeWithoutVersionsAndTrailingDots) {
  source_.At(17).fill(0);
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(report.VolumeLabel, u"VELMOR");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"/A.TXT 5000 @50", "/SUB/", "/SUB/B 10 @60"}));
}

TEST_F(SessionImport, AnEnhancedDescriptorIsReadAsEightBitNames) {
  source_.At(17).fill(0);
  PutDescriptor(source_.At(17), TDescriptorKind::Enhanced, 40, 2048, kVolumeSectors, Bytes("\xc3\xa9t\xc3\xa9"));
  WriteDirectory(source_, 40, {{Bytes("caf\xc3\xa9 menu.txt"), 50, 5}, {Bytes("latin\xe9"), 60, 3}});
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(report.VolumeLabel, u"\u00e9t\u00e9");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"/caf\xc3\xa9 menu.txt 5 @50", "/latin\xc3\xa9 3 @60"}));
}

TEST_F(SessionImport, IntoADirectoryImportedTwiceGivesNoDuplicates) {
  ASSERT_NE(CreateDirW(cd_, u"\\", u"old"), nullptr);
  ASSERT_TRUE(Import(u"\\old").Imported);
  const std::vector<std::string> once = Listing();
  ASSERT_TRUE(Import(u"\\old").Imported);
  EXPECT_EQ(Listing(), once);
  EXPECT_EQ(once, (std::vector<std::string>{"/old/", "/old/a.txt 5000 @50", "/old/sub/", "/old/sub/b 10 @60"}));
}

// Joliet names: only a trailing ";digits" is a version; anything else,
// including UCS-2 units whose low byte is 3Bh, is part of the name.
TEST_F(SessionImport, NamesKeepEverySemicolonThatIsNotAVersion) {
  struct Case {
    std::u16string recorded;
    const char* name;
  };
  const Case cases[] = {
      {u"x;1", "x"},          {u"y;32767", "y"},           {u"a;b", "a;b"},
      {u"v;12a", "v;12a"},    {u"semi;", "semi;"},         {u"\u013Bx;2", "\u013Bx"},
      {u"a\u263B", "a\u263B"}, {u"c;d;3", "c;d"},
  };
  std::vector<TRecordSpec> records;
  std::vector<std::string> expected;
  std::uint32_t extent = 50;
  for (const Case& c : cases) {
    records.push_back({Ucs2(c.recorded), extent, 1});
    expected.push_back(std::string("/") + c.name + " 1 @" + std::to_string(extent++));
  }
  WriteDirectory(source_, kJolietRoot, records);
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(Listing(), expected);
}

TEST_F(SessionImport, NamesNoEntryCanCarryAreLeftOutAndNamed) {
  WriteDirectory(source_, kJolietRoot,
                 {{{}, 50, 1}, {Ucs2(u"a/b"), 51, 1}, {Ucs2(u".."), 52, 1}, {Ucs2(u"ok"), 53, 1},
                  {Ucs2(u"assoc"), 54, 1, 0x04}});
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(Listing(), (std::vector<std::string>{"/ok 1 @53"}));
  ASSERT_EQ(report.LeftOut.size(), 4u);
  EXPECT_NE(report.LeftOut[0].find("an empty name"), std::string::npos);
  EXPECT_NE(report.LeftOut[1].find("\\a/b: left out, a name holding a path separator"), std::string::npos);
  EXPECT_NE(report.LeftOut[2].find("reserved name"), std::string::npos);
  EXPECT_NE(report.LeftOut[3].find("\\assoc: left out, an associated file"), std::string::npos);
}

TEST_F(SessionImport, HiddenRecordsStayHidden) {
  WriteDirectory(source_, kJolietRoot, {{Ucs2(u"shown"), 50, 1}, {Ucs2(u"hidden"), 51, 1, 0x01},
                                        {Ucs2(u"hidden dir"), kJolietSub, 2048, kDir | 0x01}});
  ASSERT_TRUE(Import().Imported);
  for (const auto& [name, hidden] : {std::pair{u"shown", false}, {u"hidden", true}, {u"hidden dir", true}})
    EXPECT_EQ((LookupEntry(cd_.RootDir, name)->attributes & kAttributeHidden) != 0, hidden) << Utf16ToUtf8(name);
}

TEST_F(SessionImport, AnEmptyFileHasNoExtentAndIsNotImportedData) {
  WriteDirectory(source_, kJolietRoot, {{Ucs2(u"empty"), 77, 0}, {Ucs2(u"zero"), 0, 0}});
  ASSERT_TRUE(Import().Imported);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"/empty 0 @0", "/zero 0 @0"}));
  EXPECT_FALSE(cd_.Files[0]->Imported);
}

TEST_F(SessionImport, DirectoriesLongerThanSixtyFourKilobytesAreReadWhole) {
  constexpr std::uint32_t kSectors = 40;
  source_ = TMemorySectors(200);
  WriteSession(source_, {});
  PutDescriptor(source_.At(17), TDescriptorKind::Joliet, 100, kSectors * 2048, 200, Ucs2(u"Long"));
  std::vector<std::string> expected;
  for (std::uint32_t s = 0; s < kSectors; ++s) {
    auto& sector = source_.At(100 + s);
    sector.fill(0);
    std::size_t offset = s == 0 ? PutSelfAndParent(sector, 100, kSectors * 2048) : 0;
    const std::string name = "f" + std::to_string(s);
    PutRecord(sector, offset, {Ucs2(Utf8ToUtf16(name)), 50 + s, 1});
    expected.push_back("/" + name + " 1 @" + std::to_string(50 + s));
  }
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(Listing(), expected);
}

// A chain of directories Depth deep: \d1\d2\...; each one sector.
void WriteChain(TMemorySectors& source, std::uint32_t depth) {
  for (std::uint32_t level = 1; level <= depth; ++level) {
    const std::uint32_t parent = level == 1 ? kJolietRoot : 100 + level - 1;
    WriteDirectory(source, parent, {{Ucs2(u"d" + Utf8ToUtf16(std::to_string(level))), 100 + level, 2048, kDir}});
  }
  WriteDirectory(source, 100 + depth, {});
}

TEST_F(SessionImport, DeepTreesAreFollowedUpToTheCap) {
  source_ = TMemorySectors(300);
  WriteSession(source_, {});
  PutDescriptor(source_.At(17), TDescriptorKind::Joliet, kJolietRoot, 2048, 300, Ucs2(u"Deep"));
  WriteChain(source_, 20);
  const TImportReport deep = Import();
  ASSERT_TRUE(deep.Imported) << deep.Reason;
  EXPECT_EQ(deep.Directories, 20u);

  ClearAll(cd_);
  WriteChain(source_, kMaxImportDepth + 1);
  const TImportReport tooDeep = Import();
  EXPECT_FALSE(tooDeep.Imported);
  EXPECT_NE(tooDeep.Reason.find("nested deeper than 64 levels"), std::string::npos) << tooDeep.Reason;
  EXPECT_TRUE(cd_.Files.empty());
}

// Recorded dates are local times with their offset from Greenwich in
// 15-minute units; the entry keeps the instant.
TEST_F(SessionImport, DatesApplyTheirOffsetAndInvalidOnesTakeTheirDirectorysDate) {
  const std::int64_t june1 = 1'590'969'600;  // 2020-06-01 00:00:00 UTC
  WriteDirectory(source_, kJolietRoot,
                 {{Ucs2(u"east"), 50, 1, 0, {120, 6, 1, 12, 0, 0, 8}},
                  {Ucs2(u"west"), 51, 1, 0, {120, 6, 1, 12, 0, 0, static_cast<std::uint8_t>(-20)}},
                  {Ucs2(u"sub"), kJolietSub, 2048, kDir, {120, 6, 1, 12, 0, 0, 0}}});
  WriteDirectory(source_, kJolietSub,
                 {{Ucs2(u"month13"), 52, 1, 0, {120, 13, 1, 0, 0, 0, 0}},
                  {Ucs2(u"feb30"), 53, 1, 0, {120, 2, 30, 0, 0, 0, 0}},
                  {Ucs2(u"offset"), 54, 1, 0, {120, 2, 3, 0, 0, 0, 60}},
                  {Ucs2(u"unset"), 55, 1, 0, {0, 0, 0, 0, 0, 0, 0}}});
  ASSERT_TRUE(Import().Imported);
  const auto timeOf = [&](std::u16string_view dir, std::u16string_view name) {
    return FileTimeOfCalendar(LookupEntry(LookupDir(cd_, dir), name)->Time);
  };
  const auto local = [](std::int64_t utc) {
    return FileTimeOfCalendar(LocalCalendarOfFileTime(FileTimeFromUnix(utc, 0)));
  };
  EXPECT_EQ(timeOf(u"\\", u"east"), local(june1 + 10 * 3600));
  EXPECT_EQ(timeOf(u"\\", u"west"), local(june1 + 17 * 3600));
  for (std::u16string_view name : {u"month13", u"feb30", u"offset", u"unset"})
    EXPECT_EQ(timeOf(u"\\sub", name), local(june1 + 12 * 3600)) << Utf16ToUtf8(name);
}

// Appending session after session must not move a file's time: the date a
// session records for an imported entry names the instant it was read as.
TEST_F(SessionImport, ADateReadBackAndRecordedAgainIsTheSameInstant) {
  WriteDirectory(source_, kJolietRoot,
                 {{Ucs2(u"east"), 50, 1, 0, {120, 6, 1, 12, 0, 0, 8}},
                  {Ucs2(u"west"), 51, 1, 0, {99, 12, 31, 23, 59, 59, static_cast<std::uint8_t>(-20)}}});
  ASSERT_TRUE(Import().Imported);
  ASSERT_GT(Prepare(cd_), 0u);
  ASSERT_TRUE(GenerateHeader(cd_));

  const std::vector<std::uint8_t> header = WholeHeader(cd_);
  ASSERT_EQ(header.size(), std::size_t{cd_.HeaderSectors} * 2048);
  TMemorySectors recorded(cd_.HeaderSectors);
  for (std::uint32_t s = 0; s < cd_.HeaderSectors; ++s)
    std::copy_n(header.begin() + std::ptrdiff_t{s} * 2048, 2048, recorded.At(s).begin());
  TCDFiles again;
  ClearAll(again);
  const TImportReport report = ImportVolume(again, recorded, {0, kImageCandidateSectors, 0}, again.RootDir);
  ASSERT_TRUE(report.Imported) << report.Reason;
  for (std::u16string_view name : {u"east", u"west"}) {
    const pFileEntry before = LookupEntry(cd_.RootDir, name);
    const pFileEntry after = LookupEntry(again.RootDir, name);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(FileTimeOfCalendar(after->Time), FileTimeOfCalendar(before->Time)) << Utf16ToUtf8(name);
    EXPECT_EQ(after->Address, before->Address);
  }
}

TEST_F(SessionImport, FilesOfSeveralBackToBackExtentsKeepTheir64BitSize) {
  constexpr std::uint32_t kFull = 0xFFFFF800;
  constexpr std::uint32_t kFullSectors = kFull / 2048;
  source_ = TMemorySectors(5'000'000);
  WriteSession(source_, {{Ucs2(u"big"), 100, kFull, kMore},
                         {Ucs2(u"big"), 100 + kFullSectors, kFull, kMore},
                         {Ucs2(u"big"), 100 + 2 * kFullSectors, 1000},
                         {Ucs2(u"after"), 50, 7}});
  PutDescriptor(source_.At(17), TDescriptorKind::Joliet, kJolietRoot, 2048, 5'000'000, Ucs2(u"Big"));
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(Listing(), (std::vector<std::string>{"/big " + std::to_string(2ull * kFull + 1000) + " @100",
                                                 "/after 7 @50"}));
}

struct FaultCase {
  const char* what;
  std::vector<TRecordSpec> root;                    // empty: the sound root
  std::function<void(TMemorySectors&)> damage;      // after the session is written
  const char* reason;
};

void NoDamage(TMemorySectors&) {}

// Fills sector 31 after "." and ".." with records of 255 bytes and one of
// 190, so that the next one starts at offset 2,043 and passes the sector's end.
void RecordPastTheSectorEnd(TMemorySectors& source) {
  auto& sector = source.At(kJolietSub);
  std::size_t offset = 68;
  for (int i = 0; i < 8; ++i) {
    PutRecord(sector, offset, {Ucs2(u"p" + Utf8ToUtf16(std::to_string(i))), 60, 1});
    sector[offset] = static_cast<std::uint8_t>(i < 7 ? 255 : 190);
    offset += sector[offset];
  }
  sector[offset] = 34;
}

std::vector<TRecordSpec> WithA(TRecordSpec a) {
  std::vector<TRecordSpec> root = JolietRootRecords();
  root[0] = std::move(a);
  return root;
}

const FaultCase kFaults[] = {
    {"record shorter than 34 bytes", {}, [](TMemorySectors& s) { s.At(kJolietRoot)[68] = 20; }, "fewer than 34"},
    {"identifier past its record", {}, [](TMemorySectors& s) { s.At(kJolietRoot)[68 + 32] = 40; },
     "identifier passes the end of the record"},
    {"record past its sector", {}, RecordPastTheSectorEnd, "passes the end of its sector"},
    {"directory pointing at the root", WithA({Ucs2(u"loop"), kJolietRoot, 2048, kDir}), NoDamage,
     "leads back to a directory already read"},
    {"directory pointing at its parent", {},
     [](TMemorySectors& s) { WriteDirectory(s, kJolietSub, {{Ucs2(u"up"), kJolietRoot, 2048, kDir}}); },
     "\\sub\\up leads back"},
    {"file past the volume's end", WithA({Ucs2(u"a.txt"), 99, 5000}), NoDamage, "outside the volume of 100 sectors"},
    {"file of 4 GiB past the volume's end", WithA({Ucs2(u"a.txt"), 50, 0xFFFFFFFF}), NoDamage, "outside the volume"},
    {"directory past the volume's end", WithA({Ucs2(u"far"), 150, 2048, kDir}), NoDamage, "outside the volume"},
    {"directory with no length", WithA({Ucs2(u"none"), 40, 0, kDir}), NoDamage, "outside the volume"},
    {"unreadable directory sector", {}, [](TMemorySectors& s) { s.Unreadable.insert(kJolietSub); },
     "cannot read directory \\sub at sector 31"},
    {"file data at sector 0", WithA({Ucs2(u"a.txt"), 0, 10}), NoDamage, "records data at sector 0"},
    {"extents not back to back", {}, [](TMemorySectors& s) {
       WriteDirectory(s, kJolietRoot, {{Ucs2(u"split"), 50, 2048, kMore}, {Ucs2(u"split"), 60, 10}});
     }, "not back to back"},
    {"last extent missing", {}, [](TMemorySectors& s) {
       WriteDirectory(s, kJolietRoot, {{Ucs2(u"cut"), 50, 2048, kMore}});
     }, "ends without its last extent"},
    {"extent not filling its sectors", {}, [](TMemorySectors& s) {
       WriteDirectory(s, kJolietRoot, {{Ucs2(u"odd"), 50, 1000, kMore}, {Ucs2(u"odd"), 51, 10}});
     }, "does not fill its last sector"},
    {"no volume descriptor", {}, [](TMemorySectors& s) { s.At(16).fill(0); s.At(17).fill(0); },
     "no ISO 9660 volume descriptor in sectors 0 to 32"},
    {"root outside the volume", {}, [](TMemorySectors& s) {
       PutDescriptor(s.At(16), TDescriptorKind::Primary, 500, 2048, kVolumeSectors, {});
       PutDescriptor(s.At(17), TDescriptorKind::Joliet, 500, 2048, kVolumeSectors, {});
     }, "lies outside its volume"},
    {"blocks of 512 bytes", {}, [](TMemorySectors& s) {
       s.At(16)[129] = 2;
       s.At(17)[129] = 2;
     }, "has 512-byte blocks"},
};

TEST_F(SessionImport, DamagedSessionsAreRefusedWithTheirReasonAndImportNothing) {
  for (const FaultCase& fault : kFaults) {
    SCOPED_TRACE(fault.what);
    source_ = TMemorySectors(kVolumeSectors);
    WriteSession(source_, fault.root.empty() ? JolietRootRecords() : fault.root);
    fault.damage(source_);
    ClearAll(cd_);
    const TImportReport report = Import();
    EXPECT_FALSE(report.Imported);
    EXPECT_NE(report.Reason.find(fault.reason), std::string::npos) << report.Reason;
    EXPECT_TRUE(cd_.Files.empty());
    EXPECT_EQ(cd_.Dirs.size(), 1u);
  }
}

TWin32FindDataW MemoryFile(std::u16string_view name, std::uint32_t size) {
  TWin32FindDataW fd;
  EXPECT_TRUE(CopyToField(fd.cFileName, name));
  fd.nFileSizeLow = size;
  fd.ftLastWriteTime = FileTimeFromUnix(1'700'000'000, 0);
  return fd;
}

const TGetDataEvent kNoData = [](void*, pFileEntry, std::uint32_t, void*, std::uint32_t& size) { size = 0; };

// The tree refuses the directory "sub" because a file holds that name; the
// entries added before it go again, and replaced ones get their old contents.
TEST_F(SessionImport, AnImportTheTreeRefusesHalfWayLeavesTheCompilationAsItWas) {
  for (const bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "ReplaceFile on" : "ReplaceFile off");
    ClearAll(cd_);
    cd_.ReplaceFile = replace;
    ASSERT_NE(InsertMemoryFileW(cd_, u"\\", MemoryFile(u"a.txt", 7), kNoData), nullptr);
    ASSERT_NE(InsertMemoryFileW(cd_, u"\\", MemoryFile(u"sub", 3), kNoData), nullptr);
    ASSERT_NE(CreateDirW(cd_, u"\\", u"keep"), nullptr);
    cd_.Prepared = true;
    const std::vector<std::string> before = Listing();

    const TImportReport report = Import();
    EXPECT_FALSE(report.Imported);
    EXPECT_NE(report.Reason.find("\\sub: a file of that name is there already"), std::string::npos) << report.Reason;
    EXPECT_EQ(Listing(), before);
    EXPECT_EQ(cd_.Files.size(), 3u);
    EXPECT_EQ(cd_.Dirs.size(), 2u);
    EXPECT_EQ(cd_.PathTableEntries.size(), 2u);
    EXPECT_TRUE(cd_.Prepared);
    EXPECT_FALSE(cd_.Files[0]->Imported);
    EXPECT_TRUE(cd_.Files[0]->Extras.get().mfcbFunction != nullptr);
    // The directory's index still finds its entries, and only them.
    EXPECT_EQ(FindFileW(cd_, u"\\", u"a.txt"), 0);
    EXPECT_EQ(cd_.RootDir->LastFile->LongName, u"keep");
    ASSERT_NE(InsertMemoryFileW(cd_, u"\\", MemoryFile(u"new", 1), kNoData), nullptr);
    EXPECT_EQ(Listing().back(), "/new 1 @0");
  }
}

}  // namespace
