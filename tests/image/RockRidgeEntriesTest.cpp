// The Rock Ridge reader over system use areas built byte by byte: each entry
// form a writer may use, and each malformed or hostile area, which refuses
// the whole import with a reason and leaves the compilation as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/image/SessionImport.h"
#include "engine/image/Tree.h"
#include "image/CompilationListing.h"
#include "image/SessionFixture.h"

using namespace kilnor;
using namespace kilnor::test;

namespace {

using TBytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kVolumeSectors = 100;
constexpr std::uint32_t kRoot = 20;
constexpr std::uint32_t kJolietRoot = 30;
constexpr std::uint32_t kContinuation = 40;
constexpr std::uint32_t kMoved = 41;

TBytes operator+(TBytes a, const TBytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TBytes Both32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

TBytes Entry(const char* signature, const TBytes& data) {
  return TBytes{static_cast<std::uint8_t>(signature[0]), static_cast<std::uint8_t>(signature[1]),
                static_cast<std::uint8_t>(4 + data.size()), 1} + data;
}

TBytes Px(std::uint32_t mode, std::uint32_t links, std::uint32_t uid, std::uint32_t gid) {
  return Entry("PX", Both32(mode) + Both32(links) + Both32(uid) + Both32(gid));
}
TBytes Px44(std::uint32_t mode, std::uint64_t serial) {
  return Entry("PX", Both32(mode) + Both32(1) + Both32(1000) + Both32(100) + Both32(static_cast<std::uint32_t>(serial)));
}
TBytes Nm(std::uint8_t flags, std::string_view name) { return Entry("NM", TBytes{flags} + Bytes(name)); }
TBytes Ce(std::uint32_t sector, std::uint32_t offset, std::uint32_t length) {
  return Entry("CE", Both32(sector) + Both32(offset) + Both32(length));
}
TBytes Component(std::uint8_t flags, std::string_view text = "") {
  return TBytes{flags, static_cast<std::uint8_t>(text.size())} + Bytes(text);
}
TBytes Sl(std::uint8_t flags, const TBytes& components) { return Entry("SL", TBytes{flags} + components); }
TBytes Sp(std::uint8_t skip) { return Entry("SP", {0xBE, 0xEF, skip}); }
TBytes Er() {
  const std::string id = "RRIP_1991A";
  return Entry("ER", TBytes{static_cast<std::uint8_t>(id.size()), 0, 0, 1} + Bytes(id));
}

// 2021-03-04 05:06:07 at Greenwich, in both TF forms.
constexpr std::int64_t kMarch4 = 1'614'834'367;
const TBytes kShortTime{121, 3, 4, 5, 6, 7, 0};
// "2021030407060712" at +02:00 (8 quarter hours): the same second and 12 hundredths.
const TBytes kLongTime = Bytes("2021030407060712") + TBytes{8};

constexpr std::uint8_t kContinues = 0x01;
constexpr std::uint8_t kCurrent = 0x02;
constexpr std::uint8_t kParent = 0x04;
constexpr std::uint8_t kRootComponent = 0x08;
constexpr std::uint32_t kFileMode = 0100644;

// A session whose primary tree records Rock Ridge (SP skip length Skip) and
// whose Joliet tree names the same file "joliet-name": \ holds one file, at
// sector 50, with the system use bytes Area (after Skip bytes of filler).
void WriteSession(TMemorySectors& source, const TBytes& area, std::uint8_t skip = 0) {
  PutDescriptor(source.At(16), TDescriptorKind::Primary, kRoot, 2048, kVolumeSectors, Bytes("RR"));
  PutDescriptor(source.At(17), TDescriptorKind::Joliet, kJolietRoot, 2048, kVolumeSectors, Ucs2(u"RR"));
  PutTerminator(source.At(18));
  auto& root = source.At(kRoot);
  std::size_t offset = PutRecord(root, 0, {{0}, kRoot, 2048, 0x02, kSomeDate, Sp(skip) + Er() + Px(040755, 2, 0, 0)});
  offset = PutRecord(root, offset, {{1}, kRoot, 2048, 0x02});
  PutRecord(root, offset, {Bytes("FILE.;1"), 50, 10, 0, kSomeDate, TBytes(skip, 0xAA) + area});
  auto& joliet = source.At(kJolietRoot);
  PutRecord(joliet, PutSelfAndParent(joliet, kJolietRoot, 2048), {Ucs2(u"joliet-name"), 50, 10});
}

class RockRidgeEntries : public ::testing::Test {
 protected:
  void SetUp() override { ClearAll(cd_); }

  TImportReport Import() { return ImportVolume(cd_, source_, {0, kImageCandidateSectors, 0}, cd_.RootDir); }

  TMemorySectors source_{kVolumeSectors};
  TCDFiles cd_;
};

struct EntryCase {
  const char* what;
  TBytes area;
  TBytes continuation = {};  // written at sector 40 offset 100
  std::uint8_t skip = 0;
  std::string name;
  std::uint32_t mode = kFileMode;
  std::uint64_t serial = 0;
  std::string target = {};
  std::int64_t modifySeconds = 0;
  std::uint32_t modifyNanoseconds = 0;
  std::int64_t accessSeconds = 0;
};

const EntryCase kEntries[] = {
    {"PX of 36 bytes, as 1.09 records it", Px(kFileMode, 1, 1000, 100) + Nm(0, "old"), {}, 0, "old"},
    {"PX of 44 bytes with the serial number", Px44(kFileMode, 77) + Nm(0, "serial"), {}, 0, "serial", kFileMode, 77},
    {"TF short form: creation, modify and access", Px(kFileMode, 1, 0, 0) + Nm(0, "short") +
         Entry("TF", TBytes{0x07} + TBytes(7, 0) + kShortTime + kShortTime),
     {}, 0, "short", kFileMode, 0, "", kMarch4, 0, kMarch4},
    {"TF long form with hundredths and an offset", Px(kFileMode, 1, 0, 0) + Nm(0, "long") +
         Entry("TF", TBytes{0x82} + kLongTime),
     {}, 0, "long", kFileMode, 0, "", kMarch4, 120'000'000},
    {"NM split over two entries", Px(kFileMode, 1, 0, 0) + Nm(kContinues, "first ") + Nm(0, "second"), {}, 0,
     "first second"},
    {"NM CURRENT and PARENT name no record", Px(kFileMode, 1, 0, 0) + Nm(kCurrent, "") + Nm(kParent, "") + Nm(0, "own"),
     {}, 0, "own"},
    {"SL components split over entries and a continuation area",
     Px(0120777, 1, 0, 0) + Nm(0, "link") +
         Sl(kContinues, Component(kRootComponent) + Component(0, "usr") + Component(kContinues, "lo")) +
         Ce(kContinuation, 100, 20),
     Sl(0, Component(0, "cal") + Component(kParent) + Component(kCurrent) + Component(0, "bin")), 0, "link", 0120777,
     0, "/usr/local/.././bin"},
    {"unknown entries are skipped by their length",
     Entry("ZZ", TBytes(9, 1)) + Px(kFileMode, 1, 0, 0) + Entry("AA", {}) + Nm(0, "skipped"), {}, 0, "skipped"},
    {"ST ends the area", Px(kFileMode, 1, 0, 0) + Nm(0, "stop") + Entry("ST", {}) + TBytes{'N', 'M', 0, 1}, {}, 0,
     "stop"},
    {"the SP skip length", Px(kFileMode, 1, 0, 0) + Nm(0, "skip"), {}, 5, "skip"},
    {"a name beyond what Joliet holds", Px(kFileMode, 1, 0, 0) + Nm(0, "a:b*c?\"<>|"), {}, 0, "a:b*c?\"<>|"},
    {"no NM: the identifier without its version", Px(kFileMode, 1, 0, 0), {}, 0, "FILE"},
};

TEST_F(RockRidgeEntries, EachEntryFormGivesTheRecordedAttributes) {
  for (const EntryCase& c : kEntries) {
    SCOPED_TRACE(c.what);
    source_ = TMemorySectors(kVolumeSectors);
    WriteSession(source_, c.area, c.skip);
    std::copy(c.continuation.begin(), c.continuation.end(), source_.At(kContinuation).begin() + 100);
    ClearAll(cd_);
    const TImportReport report = Import();
    ASSERT_TRUE(report.Imported) << report.Reason;
    EXPECT_TRUE(report.RockRidge);
    ASSERT_EQ(cd_.RootDir->Files, cd_.RootDir->LastFile);
    const TFileEntry& entry = *cd_.RootDir->Files;
    EXPECT_EQ(Utf16ToUtf8(entry.LongName), c.name);
    ASSERT_NE(entry.Posix, nullptr);
    EXPECT_EQ(entry.Posix->Mode, c.mode);
    EXPECT_EQ(entry.Posix->SerialNumber, c.serial);
    EXPECT_EQ(entry.Posix->Names.get().LinkTarget, c.target);
    EXPECT_EQ(entry.FileSize, c.target.empty() ? 10 : 0);
    if (c.modifySeconds != 0) {
      EXPECT_EQ(entry.Posix->Modify, (TPosixTime{c.modifySeconds, c.modifyNanoseconds}));
    }
    if (c.accessSeconds != 0) {
      EXPECT_EQ(entry.Posix->Access.Seconds, c.accessSeconds);
    }
  }
}

TEST_F(RockRidgeEntries, NameBytesThatAreNotUtf8AreKeptExactly) {
  WriteSession(source_, Px(kFileMode, 1, 0, 0) + Nm(0, "caf\xe9"));
  ASSERT_TRUE(Import().Imported);
  const TFileEntry& entry = *cd_.RootDir->Files;
  EXPECT_EQ(entry.LongName, u"caf\u00e9");
  EXPECT_EQ(entry.Posix->Names.get().Name, "caf\xe9");
}

// A 250-byte name fits no record; its NM stands in a continuation area, and
// a compilation that records Rock Ridge keeps it whole.
TEST_F(RockRidgeEntries, ANameInAContinuationAreaIsKeptWhole) {
  WriteSession(source_, Px(kFileMode, 1, 0, 0) + Ce(kContinuation, 100, 255));
  const TBytes name = Nm(0, std::string(250, 'x'));
  std::copy(name.begin(), name.end(), source_.At(kContinuation).begin() + 100);
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  ASSERT_EQ(cd_.Files.size(), 1u);
  EXPECT_EQ(cd_.Files[0]->LongName, std::u16string(250, u'x'));
  EXPECT_TRUE(report.LeftOut.empty());
}

TEST_F(RockRidgeEntries, AFileStoredCompressedIsLeftOutAndNamed) {
  WriteSession(source_, Px(kFileMode, 1, 0, 0) + Nm(0, "packed") + Entry("ZF", Bytes("pz") + TBytes{4, 15} + Both32(99)));
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_TRUE(cd_.Files.empty());
  ASSERT_EQ(report.LeftOut.size(), 1u);
  EXPECT_EQ(report.LeftOut[0], "\\packed: left out, its data is stored compressed (ZF), which a new session cannot record");
}

TEST_F(RockRidgeEntries, TheRootKeepsItsOwnAttributes) {
  WriteSession(source_, Px(kFileMode, 1, 0, 0));
  ASSERT_TRUE(Import().Imported);
  ASSERT_NE(cd_.RootPosix, nullptr);
  EXPECT_EQ(cd_.RootPosix->Mode, 040755u);
}

TEST_F(RockRidgeEntries, WithoutSpTheJolietTreeIsRead) {
  WriteSession(source_, Px(kFileMode, 1, 0, 0) + Nm(0, "rr-name"));
  source_.At(kRoot)[34] = 'X';  // the SP signature of the root's "." record
  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_FALSE(report.RockRidge);
  EXPECT_EQ(CompilationListing(cd_), (std::vector<std::string>{"/joliet-name 10 @50"}));
  EXPECT_EQ(cd_.Files[0]->Posix, nullptr);
}

// A relocated directory: "deep" in the root is a file record whose CL names
// sector 41; there, the directory's own "." gives its length, and its RE
// record in the relocation directory "moved" is passed over.
TEST_F(RockRidgeEntries, ARelocatedDirectoryIsTakenAtItsPlace) {
  WriteSession(source_, Px(kFileMode, 1, 0, 0) + Nm(0, "f"));
  auto& root = source_.At(kRoot);
  std::size_t offset = 0;
  while (root[offset] != 0) offset += root[offset];
  offset = PutRecord(root, offset, {Bytes("DEEP"), 50, 0, 0, kSomeDate, Px(040700, 2, 0, 0) + Nm(0, "deep") +
                                                                         Entry("CL", Both32(kMoved))});
  PutRecord(root, offset, {Bytes("MOVED"), 42, 2048, 0x02, kSomeDate, Px(040555, 2, 0, 0) + Nm(0, "moved")});
  auto& moved = source_.At(42);
  PutRecord(moved, PutSelfAndParent(moved, 42, 2048),
            {Bytes("DEEP"), kMoved, 2048, 0x02, kSomeDate, Px(040700, 2, 0, 0) + Nm(0, "deep") + Entry("RE", {})});
  auto& deep = source_.At(kMoved);
  std::size_t inner = PutRecord(deep, 0, {{0}, kMoved, 2048, 0x02});
  inner = PutRecord(deep, inner, {{1}, 42, 2048, 0x02, kSomeDate, Entry("PL", Both32(kRoot))});
  PutRecord(deep, inner, {Bytes("IN.;1"), 60, 3, 0, kSomeDate, Px(kFileMode, 1, 0, 0) + Nm(0, "in")});

  const TImportReport report = Import();
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_EQ(CompilationListing(cd_), (std::vector<std::string>{"/f 10 @50", "/deep/", "/deep/in 3 @60", "/moved/"}));
  EXPECT_EQ(LookupEntry(cd_.RootDir, u"deep")->Posix->Mode, 040700u);
}

struct MalformedCase {
  const char* what;
  TBytes area;
  TBytes continuation;  // written at sector 40 offset 100
  const char* reason;
};

// 65 CE entries, each naming the next 28 bytes on.
TBytes ContinuationChain() {
  TBytes chain;
  for (std::uint32_t i = 0; i < 65; ++i) chain = chain + Ce(kContinuation, 100 + 28 * (i + 1), 28);
  return chain;
}

const MalformedCase kMalformed[] = {
    {"an entry length of 0", Px(kFileMode, 1, 0, 0) + TBytes{'N', 'M', 0, 1, 0, 'x'}, {}, "of 0 bytes, fewer than 4"},
    {"an entry past the area", Px(kFileMode, 1, 0, 0) + TBytes{'N', 'M', 200, 1, 0, 'x'}, {},
     "passes the end of its area"},
    {"a PX too short", Entry("PX", Both32(kFileMode) + Both32(1)), {}, "PX entry of 20 bytes, neither 36 nor 44"},
    {"a TF shorter than its flags", Entry("TF", TBytes{0x06} + kShortTime), {}, "shorter than the times its flags name"},
    {"an NM split that never ends", Nm(kContinues, "cut"), {}, "name (NM) continues into an entry that never comes"},
    {"an SL split that never ends", Sl(kContinues, Component(0, "a")), {}, "symbolic link's target (SL) continues"},
    {"an SL component that never ends", Sl(0, Component(kContinues, "a")), {}, "symbolic link's target (SL) continues"},
    {"an SL component past its entry", Sl(0, TBytes{0, 9, 'a'}), {}, "component passes the end of its SL entry"},
    {"two names", Nm(0, "one") + Nm(0, "two"), {}, "two names"},
    {"a CE past the volume", Ce(5000, 0, 10), {}, "sector 5000 offset 0 lies outside the volume of 100 sectors"},
    {"a CE past its sector", Ce(kContinuation, 2000, 100), {}, "passes the end of its sector"},
    {"a CE loop", Ce(kContinuation, 100, 28), Ce(kContinuation, 100, 28), "a loop of continuation areas"},
    {"a CE chain too long", Ce(kContinuation, 100, 28), ContinuationChain(), "more than 64 continuation areas"},
    {"a CE too short", Entry("CE", Both32(kContinuation)), {}, "CE entry of 12 bytes, fewer than 28"},
    {"a CL too short", Entry("CL", {1, 2}), {}, "CL entry of 6 bytes, fewer than 12"},
    {"a CL past the volume", Entry("CL", Both32(900)), {}, "relocated to sector 900, outside the volume"},
    {"a CL at a sector without a directory", Entry("CL", Both32(kContinuation)), {}, "does not start with its \".\""},
};

TEST_F(RockRidgeEntries, MalformedAreasAreRefusedWithTheirReasonAndImportNothing) {
  for (const MalformedCase& c : kMalformed) {
    SCOPED_TRACE(c.what);
    source_ = TMemorySectors(kVolumeSectors);
    WriteSession(source_, c.area);
    std::copy(c.continuation.begin(), c.continuation.end(), source_.At(kContinuation).begin() + 100);
    ClearAll(cd_);
    const TImportReport report = Import();
    EXPECT_FALSE(report.Imported);
    EXPECT_NE(report.Reason.find(c.reason), std::string::npos) << report.Reason;
    EXPECT_TRUE(cd_.Files.empty());
    EXPECT_EQ(cd_.RootPosix, nullptr);
  }
}

// A drive that cannot read a sector the Rock Ridge tree needs fails the
// import as unreadable, so that its sense code is reported.
TEST_F(RockRidgeEntries, UnreadableSectorsFailTheImportAsUnreadable) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {kRoot, "cannot read directory \\ at sector 20"},
      {kContinuation, "cannot read a continuation area at sector 40 offset 100"},
  };
  for (const auto& [sector, reason] : cases) {
    SCOPED_TRACE(reason);
    source_ = TMemorySectors(kVolumeSectors);
    WriteSession(source_, Px(kFileMode, 1, 0, 0) + Ce(kContinuation, 100, 20));
    source_.Unreadable.insert(sector);
    ClearAll(cd_);
    const TImportReport report = Import();
    EXPECT_FALSE(report.Imported);
    EXPECT_TRUE(report.Unreadable);
    EXPECT_NE(report.Reason.find(reason), std::string::npos) << report.Reason;
    EXPECT_TRUE(cd_.Files.empty());
  }
}

TEST_F(RockRidgeEntries, AMalformedRootAreaRefusesTheImport) {
  WriteSession(source_, Px(kFileMode, 1, 0, 0));
  source_.At(kRoot)[34 + 7 + 2] = 2;  // the ER entry's length, after the 7-byte SP
  const TImportReport report = Import();
  EXPECT_FALSE(report.Imported);
  EXPECT_NE(report.Reason.find("the root directory's system use area: a system use entry of 2 bytes"),
            std::string::npos)
      << report.Reason;
}

}  // namespace
