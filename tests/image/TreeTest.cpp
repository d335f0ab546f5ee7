// The compilation tree built from memory files and created directories:
// name rules, lookups, replacement, kinds, capacities.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "engine/image/SysUtilsW.h"
#include "engine/image/Tree.h"
#include "engine/platform/FileSearch.h"
#include "engine/platform/LocalTime.h"

using namespace kilnor;

namespace {

TWin32FindDataW FindData(std::u16string_view name, std::u16string_view alias = u"",
                         std::uint64_t size = 0) {
  TWin32FindDataW fd;
  EXPECT_TRUE(CopyToField(fd.cFileName, name));
  EXPECT_TRUE(CopyToField(fd.cAlternateFileName, alias));
  fd.dwFileAttributes = kAttributeArchive;
  fd.ftLastWriteTime = FileTimeFromUnix(1'700'000'000, 0);
  fd.nFileSizeHigh = static_cast<std::uint32_t>(size >> 32);
  fd.nFileSizeLow = static_cast<std::uint32_t>(size);
  return fd;
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

// The name a second insert reaches an entry by: in other letter case where
// names ignore case, else the very name.
std::u16string_view SameName(std::u16string_view otherCase, std::u16string_view exact) {
  return kNamesIgnoreCase ? otherCase : exact;
}

const TGetDataEvent kNoData = [](void*, pFileEntry, std::uint32_t, void*, std::uint32_t& size) {
  size = 0;
};

class Tree : public ::testing::Test {
 protected:
  // Without Rock Ridge, whose longer names the cases with it show.
  void SetUp() override {
    cd_.RockRidge = false;
    ClearAll(cd_);
  }
  pFileEntry Memory(std::u16string_view name, std::u16string_view alias = u"",
                    std::u16string_view dest = u"\\") {
    return InsertMemoryFileW(cd_, dest, FindData(name, alias), kNoData);
  }
  std::int32_t DirEntryCount() const {
    std::int32_t count = 0;
    for (const auto& entry : cd_.Files) count += entry->DirRecord != nullptr;
    return count;
  }
  TCDFiles cd_;
};

TEST(TreeWithoutRoot, EveryInsertFailsUntilClearAll) {
  TCDFiles cd;
  TWin32FindDataW fd = FindData(u"a.txt");
  EXPECT_EQ(CreateDirW(cd, u"\\", u"Docs"), nullptr);
  EXPECT_EQ(InsertFileW(cd, u"\\", u"/etc/hostname"), nullptr);
  EXPECT_EQ(InsertFileWithNameW(cd, u"\\", u"/etc/hostname", u"h", u""), nullptr);
  EXPECT_EQ(InsertMemoryFileW(cd, u"\\", fd, kNoData), nullptr);
  EXPECT_EQ(InsertDirW(cd, u"\\", u"/etc", u"*.*", false, false), nullptr);
  EXPECT_NE(LastTreeError(cd).find("ClearAll"), std::string::npos);
  EXPECT_EQ(FindFileW(cd, u"\\", u"a.txt"), -1);
  EXPECT_EQ(cd.FileCounter(), 0);
  EXPECT_EQ(cd.DirCounter(), 0);
}

TEST_F(Tree, ClearAllLeavesExactlyTheRoot) {
  ASSERT_NE(CreateDirW(cd_, u"\\", u"Docs"), nullptr);
  ASSERT_NE(Memory(u"a.txt", u"", u"\\Docs"), nullptr);
  cd_.ReplaceFile = true;
  ClearAll(cd_);
  EXPECT_EQ(cd_.FileCounter(), 0);
  EXPECT_EQ(cd_.DirCounter(), 1);
  ASSERT_EQ(cd_.RootDir, cd_.Dirs[0].get());
  EXPECT_EQ(cd_.RootDir->Parent, cd_.RootDir);
  EXPECT_STREQ(cd_.RootDir->ShortName, "ROOT_DIR");
  EXPECT_EQ(cd_.RootDir->Files, nullptr);
  EXPECT_TRUE(cd_.ReplaceFile);  // settings survive
  EXPECT_EQ(cd_.TimeZoneDifference, UtcOffsetQuarterHours(CurrentFileTime()));
}

TEST_F(Tree, ShortNamesAreBytesThatFitTheirField) {
  struct Case {
    std::u16string name;
    std::u16string alias;
    const char* shortName;
  };
  const Case cases[] = {
      {u"LICENSE", u"", "LICENSE."},
      {u"readme.txt", u"", "README.TXT"},
      {u"Long File Name.txt", u"LONGFI~1.TXT", "LONGFI~1.TXT"},
      {u"first twelve chars", u"", "FIRST TWELVE."},
      {u"stra\u00DFe", u"", "STRA\xC3\x9F" "E."},
      {u"\u03B5\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03CC.txt", u"",
       "\xCE\x95\xCE\x9B\xCE\x9B\xCE\x97\xCE\x9D\xCE\x99\xCE\x9A."},
      {u"\u65E5\u672C\u8A9E.doc", u"", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.DOC"},
      {u"abcdefghijk\U0001F600x", u"", "ABCDEFGHIJK."},
  };
  for (const Case& c : cases) {
    const pFileEntry entry = Memory(c.name, c.alias);
    ASSERT_NE(entry, nullptr);
    EXPECT_STREQ(entry->ShortName, c.shortName);
    EXPECT_EQ(entry->FileNameLength, std::strlen(entry->ShortName));
    EXPECT_LT(std::strlen(entry->ShortName), kShortNameBytes);
    EXPECT_EQ(entry->LongName, c.name);
    EXPECT_EQ(entry->FileNameLengthJ, c.name.size());
  }
}

TEST_F(Tree, BadNamesAreRefusedAndLongOnesSkipped) {
  for (std::u16string_view name : {u"", u"a\\b", u"a/b", u".", u".."}) {
    EXPECT_EQ(Memory(name), nullptr);
    EXPECT_FALSE(LastTreeError(cd_).empty());
    EXPECT_EQ(CreateDirW(cd_, u"\\", name), nullptr);
  }
  EXPECT_EQ(Memory(std::u16string(218, u'x')), kSkippedEntry);
  EXPECT_NE(LastTreeError(cd_).find("217"), std::string::npos);
  EXPECT_EQ(CreateDirW(cd_, u"\\", std::u16string(218, u'd')), nullptr);
  EXPECT_EQ(CreateDirW(cd_, u"\\", std::u16string(400, u'd')), nullptr);
  EXPECT_EQ(cd_.FileCounter(), 0);
  EXPECT_EQ(cd_.DirCounter(), 1);

  const pFileEntry longest = Memory(std::u16string(217, u'x'));
  ASSERT_NE(longest, nullptr);
  EXPECT_NE(longest, kSkippedEntry);
  EXPECT_EQ(longest->FileNameLengthJ, 217);
}

TEST_F(Tree, NamesCompareExactlyIgnoringCaseOnly) {
  struct Case {
    std::u16string first;
    std::u16string second;
    bool same;
  };
  const Case cases[] = {
      {u"readme.txt", u"Readme.TXT", true},
      {u"\u03C3\u03BF\u03C6\u03AF\u03B1", u"\u03A3\u039F\u03A6\u038A\u0391", true},
      {u"\u043F\u0440\u0438\u0432\u0435\u0442", u"\u041F\u0420\u0418\u0412\u0415\u0422", true},
      {u"\u00E9t\u00E9", u"\u00C9T\u00C9", true},
      {u"strasse", u"stra\u00DFe", false},
      {u"file", u"f\u00EFle", false},
      {u"i", u"\u0130", false},
      {u"a-b", u"a\u2010b", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.first.size()) + " units, case " +
                 testing::PrintToString(&c - cases));
    ClearAll(cd_);
    const pFileEntry first = Memory(c.first);
    const pFileEntry second = Memory(c.second);
    ASSERT_NE(first, nullptr);
    // Names that differ only in case are one entry only where names ignore case.
    EXPECT_EQ(first == second, c.same && kNamesIgnoreCase);
    EXPECT_EQ(cd_.FileCounter(), c.same && kNamesIgnoreCase ? 1 : 2);
    EXPECT_EQ(SameTextW(c.first, c.second), c.same);
    EXPECT_EQ(FindFileW(cd_, u"\\", c.second), second->FileId);
  }
}

// A directory large enough to grow its name index many times: every name is
// found again, an exact name before one that differs only in case, and a
// second insert of a name reaches the entry that holds it.
TEST_F(Tree, EveryNameOfALargeDirectoryIsFoundAgain) {
  constexpr std::int32_t kFiles = 5000;
  const auto name = [](std::int32_t i) { return Ascii("file" + std::to_string(i) + ".txt"); };
  for (std::int32_t i = 0; i < kFiles; ++i) ASSERT_NE(Memory(name(i)), nullptr);
  const pFileEntry upper = Memory(u"FILE7.TXT");
  ASSERT_NE(upper, nullptr);
  for (std::int32_t i = 0; i < kFiles; ++i) {
    ASSERT_EQ(FindFileW(cd_, u"\\", name(i)), i);
    ASSERT_EQ(Memory(name(i))->FileId, i);
  }
  EXPECT_EQ(cd_.FileCounter(), kNamesIgnoreCase ? kFiles : kFiles + 1);
  EXPECT_EQ(FindFileW(cd_, u"\\", u"FILE7.TXT"), upper->FileId);
  EXPECT_EQ(FindFileW(cd_, u"\\", u"File7.Txt"), 7);
  EXPECT_EQ(FindFileW(cd_, u"\\", name(kFiles)), -1);
}

TEST_F(Tree, LookupsResolvePathsAndIds) {
  const pDirEntry docs = CreateDirW(cd_, u"\\", u"Docs");
  const pDirEntry year = CreateDirW(cd_, u"\\Docs", u"2014");
  ASSERT_NE(year, nullptr);
  const pFileEntry file = Memory(u"file.txt", u"", u"Docs\\2014\\");
  ASSERT_NE(file, nullptr);

  struct Case {
    std::u16string path;
    pDirEntry expected;
  };
  const Case cases[] = {
      {u"\\", cd_.RootDir},         {u"", cd_.RootDir},          {u"\\Docs", docs},
      {u"Docs", docs},              {u"\\docs\\", docs},         {u"/Docs/2014", year},
      {u"\\\\DOCS\\\\2014\\\\", year}, {u"\\Docs\\missing", nullptr}, {u"\\Docs\\2014\\file.txt", nullptr},
      {u"\\Docs\\..", nullptr},
  };
  for (const Case& c : cases) EXPECT_EQ(LookupDir(cd_, c.path), c.expected);

  EXPECT_EQ(DirPathOf(cd_.RootDir), u"\\");
  EXPECT_EQ(DirPathOf(year), u"\\Docs\\2014\\");
  EXPECT_EQ(FindFileW(cd_, u"\\Docs\\2014", u"FILE.TXT"), file->FileId);
  EXPECT_EQ(cd_.Files[file->FileId].get(), file);
  EXPECT_EQ(FindFile(cd_, "\\", "docs"), docs->OwnEntry->FileId);
  EXPECT_EQ(FindFileW(cd_, u"\\Docs", u"file.txt"), -1);
  EXPECT_EQ(FindFileW(cd_, u"\\Nowhere", u"file.txt"), -1);
  EXPECT_EQ(CreateDirW(cd_, u"\\Nowhere", u"x"), nullptr);
  EXPECT_EQ(Memory(u"x.txt", u"", u"\\Docs\\2014\\file.txt"), nullptr);
}

TEST_F(Tree, CreateDirNamesItsDirectoryFromTheFirstElevenCharacters) {
  const pDirEntry dir = CreateDirW(cd_, u"\\", u"A very long folder name");
  ASSERT_NE(dir, nullptr);
  EXPECT_STREQ(dir->ShortName, "A VERY LONG");
  EXPECT_EQ(dir->DirNameLength, 11);
  EXPECT_EQ(dir->LongName, u"A very long folder name");
  EXPECT_EQ(dir->Parent, cd_.RootDir);
  EXPECT_EQ(CreateDirW(cd_, u"\\", SameName(u"A VERY long folder NAME", u"A very long folder name")), dir);
  EXPECT_EQ(cd_.DirCounter(), 2);

  // Directory names upper-case ASCII letters only; their entry maps every letter.
  const pDirEntry umlaut = CreateDir(cd_, "\\", "M\xC3\xBCller Daten");
  ASSERT_NE(umlaut, nullptr);
  EXPECT_STREQ(umlaut->ShortName, "M\xC3\xBCLLER DATE");
  EXPECT_EQ(umlaut->DirNameLength, 12);
  EXPECT_STREQ(umlaut->OwnEntry->ShortName, "M\xC3\x9CLLER DATE");
  EXPECT_EQ(umlaut->OwnEntry->attributes & kAttributeDirectory, kAttributeDirectory);
}

TEST_F(Tree, FileAndDirectoryOfOneNameAreRefused) {
  ASSERT_NE(CreateDirW(cd_, u"\\", u"Docs"), nullptr);
  EXPECT_EQ(Memory(SameName(u"docs", u"Docs")), nullptr);
  EXPECT_NE(LastTreeError(cd_).find("directory"), std::string::npos);
  ASSERT_NE(Memory(u"notes"), nullptr);
  EXPECT_EQ(CreateDirW(cd_, u"\\", SameName(u"NOTES", u"notes")), nullptr);
  cd_.ReplaceFile = true;
  EXPECT_EQ(Memory(SameName(u"DOCS", u"Docs")), nullptr);
  EXPECT_EQ(cd_.FileCounter(), 2);
  EXPECT_EQ(cd_.DirCounter(), 2);
}

TEST_F(Tree, EntryKindIsKeptWhateverTheHandlerSays) {
  cd_.cbAddFileEvent = [](void*, const char16_t*, TWin32FindDataW& fd, bool&) {
    fd.dwFileAttributes ^= kAttributeDirectory;
  };
  const pFileEntry file = Memory(u"file.txt");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->attributes & kAttributeDirectory, 0u);
  EXPECT_EQ(file->DirRecord, nullptr);
  EXPECT_STREQ(file->ShortName, "FILE.TXT");
  const pDirEntry dir = CreateDirW(cd_, u"\\", u"Folder");
  ASSERT_NE(dir, nullptr);
  EXPECT_EQ(dir->OwnEntry->attributes & kAttributeDirectory, kAttributeDirectory);
  EXPECT_STREQ(dir->OwnEntry->ShortName, "FOLDER");
}

TEST_F(Tree, HandlerRenamesAndSkips) {
  cd_.cbAddFileEvent = [](void*, const char16_t*, TWin32FindDataW& fd, bool& skip) {
    const std::u16string_view name = FieldText(fd.cFileName);
    if (name == u"Photos") (void)CopyToField(fd.cFileName, std::u16string_view(u"Pictures"));
    if (name == u"secret.txt" || name == u"Private") skip = true;
    if (name == u"bad") (void)CopyToField(fd.cFileName, std::u16string_view(u"a\\b"));
  };
  const pDirEntry pictures = CreateDirW(cd_, u"\\", u"Photos");
  ASSERT_NE(pictures, nullptr);
  EXPECT_EQ(pictures->LongName, u"Pictures");
  EXPECT_EQ(pictures->OwnEntry->LongName, u"Pictures");
  EXPECT_EQ(LookupDir(cd_, u"\\Pictures"), pictures);
  EXPECT_EQ(LookupDir(cd_, u"\\Photos"), nullptr);

  EXPECT_EQ(Memory(u"secret.txt"), kSkippedEntry);
  EXPECT_EQ(CreateDirW(cd_, u"\\", u"Private"), nullptr);
  EXPECT_NE(LastTreeError(cd_).find("OnAddFile"), std::string::npos);
  EXPECT_EQ(Memory(u"bad"), nullptr);
  EXPECT_EQ(cd_.FileCounter(), 1);
  EXPECT_EQ(cd_.DirCounter(), 2);
}

TEST_F(Tree, ReplacingAnEntryResetsWhatBelongedToItsOldData) {
  int calls = 0;
  const TGetDataEvent counting = [&](void*, pFileEntry, std::uint32_t, void*, std::uint32_t& size) {
    ++calls;
    size = 0;
  };
  const pFileEntry first = InsertMemoryFileW(cd_, u"\\", FindData(u"data.bin", u"", 10), counting);
  ASSERT_NE(first, nullptr);
  first->Extras.edit().Hash = "0123456789abcdef0123456789abcdef";
  first->ReferenceEntry = first;
  cd_.Prepared = true;

  // Not replaced: returned unchanged, and its data source is not taken over.
  const std::u16string_view again = SameName(u"DATA.BIN", u"data.bin");
  EXPECT_EQ(InsertMemoryFileW(cd_, u"\\", FindData(again, u"", 20), kNoData), first);
  EXPECT_EQ(first->FileSize, 10);
  EXPECT_TRUE(cd_.Prepared);
  std::uint32_t size = 1;
  first->Extras.get().mfcbFunction(nullptr, first, 0, nullptr, size);
  EXPECT_EQ(calls, 1);

  cd_.ReplaceFile = true;
  const pFileEntry replaced = InsertMemoryFileW(cd_, u"\\", FindData(again, u"", 20), kNoData);
  EXPECT_EQ(replaced, first);
  EXPECT_EQ(cd_.FileCounter(), 1);
  EXPECT_EQ(first->FileSize, 20);
  EXPECT_EQ(first->LongName, again);
  EXPECT_EQ(WindowsName(*first), u"data.bin");
  EXPECT_TRUE(first->Extras.get().Hash.empty());
  EXPECT_EQ(first->ReferenceEntry, nullptr);
  EXPECT_FALSE(cd_.Prepared);
  first->Extras.get().mfcbFunction(nullptr, first, 0, nullptr, size);
  EXPECT_EQ(calls, 1);
}

TEST_F(Tree, MemoryFilesKeepTheirFindData) {
  TWin32FindDataA fd;
  std::strcpy(fd.cFileName, "caf\xC3\xA9 menu.txt");
  fd.dwFileAttributes = kAttributeDirectory | kAttributeHidden;
  fd.nFileSizeHigh = 2;
  fd.nFileSizeLow = 5;
  fd.ftLastWriteTime = FileTimeFromUnix(1'700'000'000, 0);
  const pFileEntry entry = InsertMemoryFile(cd_, "\\", fd, kNoData);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->LongName, u"caf\u00E9 menu.txt");
  EXPECT_EQ(entry->FileSize, (2ll << 32) + 5);
  EXPECT_EQ(entry->attributes, kAttributeHidden);
  EXPECT_FALSE(HasSourcePath(*entry));
  EXPECT_TRUE(entry->Unicode);
  EXPECT_TRUE(static_cast<bool>(entry->Extras.get().mfcbFunction));
  const TSystemTime local = LocalCalendarOfFileTime(fd.ftLastWriteTime);
  EXPECT_EQ(entry->Time.wHour, local.wHour);
  EXPECT_EQ(entry->Time.wDay, local.wDay);
}

TEST_F(Tree, ImportedEntriesKeepTheirAddress) {
  const pFileEntry entry = AddEntry(cd_, cd_.RootDir, FindData(u"old.txt"), true, 4321, std::nullopt);
  ASSERT_NE(entry, nullptr);
  EXPECT_TRUE(entry->Imported);
  EXPECT_EQ(entry->Address, 4321u);
  EXPECT_EQ(AddEntry(cd_, nullptr, FindData(u"x.txt"), true, 0, std::nullopt), nullptr);
}

TEST_F(Tree, ListsKeepInsertionOrderAfterReordering) {
  for (std::u16string_view name : {u"c", u"a", u"b"}) ASSERT_NE(Memory(name), nullptr);
  // Reverse the list the way a layout pass may re-link it, then append.
  pFileEntry reversed = nullptr;
  for (pFileEntry e = cd_.RootDir->Files; e != nullptr;) {
    const pFileEntry next = e->NextFile;
    e->NextFile = reversed;
    reversed = e;
    e = next;
  }
  cd_.RootDir->Files = reversed;
  ASSERT_NE(Memory(u"d"), nullptr);
  std::u16string order;
  for (pFileEntry e = cd_.RootDir->Files; e != nullptr; e = e->NextFile) order += e->LongName;
  EXPECT_EQ(order, u"bacd");
}

TEST_F(Tree, TablesStopAtTheirCapacities) {
  const auto started = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < kMaxFileEntries; ++i) {
    ASSERT_NE(Memory(Ascii("file " + std::to_string(i))), nullptr);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  RecordProperty("seconds_for_200000_entries", std::to_string(seconds));
  EXPECT_EQ(Memory(u"one too many"), nullptr);
  EXPECT_NE(LastTreeError(cd_).find("200000"), std::string::npos);
  EXPECT_EQ(CreateDirW(cd_, u"\\", u"no room"), nullptr);
  EXPECT_EQ(cd_.FileCounter(), static_cast<std::int32_t>(kMaxFileEntries));
  EXPECT_EQ(cd_.DirCounter(), 1);

  ClearAll(cd_);
  for (std::size_t i = 1; i < kMaxDirEntries; ++i) {
    ASSERT_NE(CreateDirW(cd_, u"\\", Ascii("dir " + std::to_string(i))), nullptr);
  }
  EXPECT_EQ(CreateDirW(cd_, u"\\", u"one too many"), nullptr);
  EXPECT_NE(LastTreeError(cd_).find("65000"), std::string::npos);
  EXPECT_EQ(cd_.DirCounter(), static_cast<std::int32_t>(kMaxDirEntries));
  EXPECT_EQ(DirEntryCount(), cd_.DirCounter() - 1);  // no directory without its entry
  EXPECT_EQ(cd_.PathTableEntries.size(), kMaxDirEntries);
}

}  // namespace
