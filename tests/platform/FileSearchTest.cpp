#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "engine/platform/FileSearch.h"
#include "engine/platform/LocalTime.h"
#include "fixtures/temp-folder/TempFolder.h"

using namespace kilnor;
using velmor_test::TempFolder;

namespace {

std::u16string U(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string A(std::u16string_view wide) {
  std::string out;
  for (char16_t unit : wide) out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return out;
}

struct AliasCase {
  std::vector<std::u16string> names;
  std::vector<std::u16string> aliases;
};

TEST(ShortAliases, FollowTheFileSystemsRules) {
  const std::vector<AliasCase> cases = {
      {{u"readme.txt", u"ReadMe.TXT", u"LICENSE", u"A-B_C~1.X"}, {u"", u"", u"", u""}},
      {{u"Long File Name.txt"}, {u"LONGFI~1.TXT"}},
      {{u"Long File Name.txt", u"Long File Name 2.txt"}, {u"LONGFI~1.TXT", u"LONGFI~2.TXT"}},
      {{u".bashrc"}, {u"BASHRC~1"}},
      {{u"archive.tar.gz"}, {u"ARCHIV~1.GZ"}},
      {{u"photo.jpeg"}, {u"PHOTO~1.JPE"}},
      {{u"a+b.txt", u"a b.txt"}, {u"A_B~1.TXT", u"AB~1.TXT"}},
      {{u"\u00E9t\u00E9.txt"}, {u"_T_~1.TXT"}},
      {{u"\U0001F600.txt"}, {u"_~1.TXT"}},
      {{u"trailing."}, {u"TRAILI~1"}},
      // An existing 8.3 name takes the number the alias would have had.
      {{u"Long File Name.txt", u"LONGFI~1.TXT"}, {u"LONGFI~2.TXT", u""}},
  };
  for (const AliasCase& c : cases) {
    EXPECT_EQ(GenerateShortAliases(c.names), c.aliases) << A(c.names.front());
  }
}

TEST(ShortAliases, StayUniqueBeyondNineSimilarNames) {
  std::vector<std::u16string> names;
  for (int i = 0; i < 120; ++i) names.push_back(U("document number " + std::to_string(i) + ".txt"));
  const std::vector<std::u16string> aliases = GenerateShortAliases(names);
  EXPECT_EQ(aliases[0], u"DOCUME~1.TXT");
  EXPECT_EQ(aliases[8], u"DOCUME~9.TXT");
  EXPECT_EQ(aliases[9], u"DOCUM~10.TXT");
  EXPECT_EQ(aliases[99], u"DOCU~100.TXT");
  std::set<std::u16string> unique(aliases.begin(), aliases.end());
  EXPECT_EQ(unique.size(), names.size());
  for (const std::u16string& alias : aliases) EXPECT_LE(alias.size(), 12u);
}

TEST(ShortAliases, FitCheck) {
  const std::map<std::u16string, bool> cases = {
      {u"README.TXT", true}, {u"readme.txt", true}, {u"A", true},          {u"12345678.123", true},
      {u"123456789", false}, {u"a.1234", false},    {u"a.b.c", false},     {u"a b", false},
      {u".profile", false},  {u"x.", false},        {u"", false},          {u"a+b", false},
      {u"\u00E9.txt", false}, {u"{x}~1.$$$", true},
  };
  for (const auto& [name, fits] : cases) EXPECT_EQ(FitsShortName(name), fits) << A(name);
}

TEST(FileSpecs, MatchCaseInsensitively) {
  struct Case {
    std::u16string name;
    std::u16string spec;
    bool matches;
  };
  const std::vector<Case> cases = {
      {u"README", u"*.*", true},       {u"a.txt", u"*.txt", true},     {u"A.TXT", u"*.txt", true},
      {u"a.txt.bak", u"*.txt", false}, {u"a.tx", u"*.txt", false},     {u"abc", u"a?c", true},
      {u"ac", u"a?c", false},          {u"report", u"report.*", true}, {u"x.y", u"*", true},
      {u"\u00E9t\u00E9", u"\u00C9T*", true}, {u"data.bin", u"d*t*.b?n", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesFileSpec(c.name, c.spec), c.matches) << A(c.name) << " ~ " << A(c.spec);
  }
}

TEST(FindDataFields, CopiesAreBoundsChecked) {
  TWin32FindDataW fd;
  EXPECT_TRUE(CopyToField(fd.cAlternateFileName, std::u16string_view(u"1234567890123")));
  EXPECT_EQ(FieldText(fd.cAlternateFileName), u"1234567890123");
  EXPECT_FALSE(CopyToField(fd.cAlternateFileName, std::u16string_view(u"12345678901234")));
  EXPECT_EQ(FieldText(fd.cAlternateFileName), u"");
  // A field filled to the brim without its NUL is read no further than its end.
  for (char16_t& unit : fd.cAlternateFileName) unit = u'x';
  EXPECT_EQ(FieldText(fd.cAlternateFileName).size(), kAlternateNameChars);

  TWin32FindDataA narrow;
  TWin32FindDataW wide;
  ASSERT_TRUE(CopyToField(wide.cFileName, std::u16string_view(std::u16string(200, u'\u00E9'))));
  EXPECT_FALSE(ToFindDataA(wide, narrow));  // 400 bytes of UTF-8 do not fit 260
}

class FolderSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.MakeFile("data/readme.txt", "hello");
    folder_.MakeFile("data/Long File Name.txt", "12345678");
    folder_.MakeFile("data/Long File Name 2.txt");
    folder_.MakeFile("data/.hidden");
    folder_.MakeDir("data/sub");
    folder_.MakeLink("readme.txt", "data/link-to-file");
    folder_.MakeLink("sub", "data/link-to-dir");
    folder_.MakeLink("missing", "data/dangling");
    folder_.MakeLink(".", "data/loop");
    mkfifo(folder_.Path("data/fifo").c_str(), 0644);
    chmod(folder_.Path("data/readme.txt").c_str(), 0444);
    folder_.SetWriteTime("data/readme.txt", 1'700'000'000);
  }

  std::map<std::string, TWin32FindDataW> List(const std::string& spec) {
    std::map<std::string, TWin32FindDataW> items;
    TFileSearch search;
    TWin32FindDataW fd;
    for (bool more = search.FindFirst(folder_.WidePath("data/" + spec), fd); more;
         more = search.FindNext(fd)) {
      order_.push_back(A(FieldText(fd.cFileName)));
      items[order_.back()] = fd;
    }
    return items;
  }

  TempFolder folder_;
  std::vector<std::string> order_;
};

TEST_F(FolderSearch, ReportsEachItemAsWhatItIs) {
  const auto items = List("*.*");
  struct Expected {
    std::string name;
    std::uint32_t attributes;
    std::uint32_t size;
  };
  const std::vector<Expected> expected = {
      {".hidden", kAttributeArchive | kAttributeHidden, 0},
      {"dangling", kAttributeReparsePoint | kAttributeDevice, 0},
      {"fifo", kAttributeDevice, 0},
      {"link-to-dir", kAttributeReparsePoint | kAttributeDirectory, 0},
      {"link-to-file", kAttributeReparsePoint | kAttributeArchive | kAttributeReadOnly, 5},
      {"Long File Name 2.txt", kAttributeArchive, 0},
      {"Long File Name.txt", kAttributeArchive, 8},
      {"loop", kAttributeReparsePoint | kAttributeDirectory, 0},
      {"readme.txt", kAttributeArchive | kAttributeReadOnly, 5},
      {"sub", kAttributeDirectory, 0},
  };
  ASSERT_EQ(items.size(), expected.size());
  for (const Expected& e : expected) {
    const TWin32FindDataW& fd = items.at(e.name);
    EXPECT_EQ(fd.dwFileAttributes, e.attributes) << e.name;
    EXPECT_EQ(fd.nFileSizeLow, e.size) << e.name;
  }
  // Items come in the order of their upper-case names.
  EXPECT_EQ(order_, (std::vector<std::string>{".hidden", "dangling", "fifo", "link-to-dir",
                                              "link-to-file", "Long File Name 2.txt",
                                              "Long File Name.txt", "loop", "readme.txt", "sub"}));
  EXPECT_EQ(items.at("readme.txt").ftLastWriteTime, FileTimeFromUnix(1'700'000'000, 0));
  EXPECT_EQ(FieldText(items.at("readme.txt").cAlternateFileName), u"");
  EXPECT_EQ(FieldText(items.at("Long File Name 2.txt").cAlternateFileName), u"LONGFI~1.TXT");
  EXPECT_EQ(FieldText(items.at("Long File Name.txt").cAlternateFileName), u"LONGFI~2.TXT");
}

TEST_F(FolderSearch, AnItemSearchedByNameGetsTheAliasOfTheListing) {
  TFileSearch search;
  TWin32FindDataW fd;
  ASSERT_TRUE(search.FindFirst(folder_.WidePath("data/Long File Name.txt"), fd));
  EXPECT_EQ(FieldText(fd.cFileName), u"Long File Name.txt");
  EXPECT_EQ(FieldText(fd.cAlternateFileName), u"LONGFI~2.TXT");
  EXPECT_FALSE(search.FindNext(fd));
  EXPECT_EQ(search.Status(), TSearchStatus::NoMoreFiles);

  // A new file changes the folder; the aliases are worked out again.
  folder_.MakeFile("data/Long File Name 1.txt");
  ASSERT_TRUE(search.FindFirst(folder_.WidePath("data/Long File Name.txt"), fd));
  EXPECT_EQ(FieldText(fd.cAlternateFileName), u"LONGFI~3.TXT");
}

TEST_F(FolderSearch, FiltersBySpecAndRewinds) {
  const auto items = List("*.TXT");
  EXPECT_EQ(order_, (std::vector<std::string>{"Long File Name 2.txt", "Long File Name.txt",
                                              "readme.txt"}));
  TFileSearch search;
  TWin32FindDataW fd;
  ASSERT_TRUE(search.FindFirst(folder_.WidePath("data/read*"), fd));
  EXPECT_FALSE(search.FindNext(fd));
  search.Rewind();
  ASSERT_TRUE(search.FindNext(fd));
  EXPECT_EQ(FieldText(fd.cFileName), u"readme.txt");
}

TEST_F(FolderSearch, FindItemTakesWildcardsLiterally) {
  folder_.MakeFile("data/a*b.txt", "star");
  TFileSearch search;
  TWin32FindDataW fd;
  ASSERT_TRUE(search.FindItem(folder_.WidePath("data/a*b.txt"), fd));
  EXPECT_EQ(FieldText(fd.cFileName), u"a*b.txt");
  EXPECT_EQ(FieldText(fd.cAlternateFileName), u"A_B~1.TXT");
  EXPECT_FALSE(search.FindNext(fd));
  EXPECT_FALSE(search.FindItem(folder_.WidePath("data/read*"), fd));
  EXPECT_EQ(search.Status(), TSearchStatus::NotFound);
}

TEST_F(FolderSearch, EightBitFormGivesUtf8Names) {
  folder_.MakeFile("data/caf\xC3\xA9.txt", "x");
  TFileSearch search;
  TWin32FindDataA fd;
  ASSERT_TRUE(search.FindFirst(folder_.Path("data/caf\xC3\xA9.txt"), fd));
  EXPECT_STREQ(fd.cFileName, "caf\xC3\xA9.txt");
  EXPECT_STREQ(fd.cAlternateFileName, "CAF_~1.TXT");
}

TEST_F(FolderSearch, LargeSizesSplitIntoHighAndLow) {
  const std::uint64_t size = (5ull << 30) + 7;  // sparse: costs no disk space
  std::filesystem::resize_file(folder_.MakeFile("big.bin"), size);
  TFileSearch search;
  TWin32FindDataW fd;
  ASSERT_TRUE(search.FindFirst(folder_.WidePath("big.bin"), fd));
  EXPECT_EQ(fd.nFileSizeHigh, 1u);
  EXPECT_EQ(fd.nFileSizeLow, static_cast<std::uint32_t>(size));
}

TEST_F(FolderSearch, FailuresSayWhy) {
  struct Case {
    std::string pattern;
    TSearchStatus status;
  };
  const std::vector<Case> cases = {
      {"missing/*.*", TSearchStatus::NotFound},
      {"data/missing.txt", TSearchStatus::NotFound},
      {"data/*.none", TSearchStatus::NotFound},
      {"data/readme.txt/*", TSearchStatus::NotFound},
      {"data/", TSearchStatus::NotFound},
  };
  for (const Case& c : cases) {
    TFileSearch search;
    TWin32FindDataW fd;
    EXPECT_FALSE(search.FindFirst(folder_.WidePath(c.pattern), fd)) << c.pattern;
    EXPECT_EQ(search.Status(), c.status) << c.pattern;
    EXPECT_FALSE(search.ErrorText().empty()) << c.pattern;
  }

  // No permission at all, and names readable but items not searchable.
  for (const mode_t mode : {0000, 0444}) {
    folder_.MakeFile("locked/inside.txt");
    chmod(folder_.Path("locked").c_str(), mode);
    const std::u16string locked = folder_.WidePath("locked/*.*");
    EXPECT_TRUE(velmor_test::RunUnprivileged([&] {
      TFileSearch search;
      TWin32FindDataW fd;
      return !search.FindFirst(locked, fd) && search.Status() == TSearchStatus::AccessDenied &&
             search.ErrorText().find("Permission denied") != std::string::npos;
    })) << std::oct << mode;
    chmod(folder_.Path("locked").c_str(), 0755);
  }
}

}  // namespace
