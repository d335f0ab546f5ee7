// The compilation tree built from real files and folders in a scratch folder.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/image/ISO9660.h"
#include "engine/image/SysUtilsW.h"
#include "engine/image/Tree.h"
#include "engine/platform/FileSearch.h"
#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"
#include "fixtures/temp-folder/TempFolder.h"

using namespace kilnor;
using velmor_test::TempFolder;

namespace {

std::u16string W(const std::string& text) { return Utf8ToUtf16(text); }
std::string N(std::u16string_view text) { return Utf16ToUtf8(text); }

// Names of a directory's list, in list order.
std::vector<std::string> Listing(pDirEntry dir) {
  std::vector<std::string> names;
  for (pFileEntry e = dir != nullptr ? dir->Files : nullptr; e != nullptr; e = e->NextFile) {
    names.push_back(N(e->LongName));
  }
  return names;
}

using Names = std::vector<std::string>;

class TreeFolder : public ::testing::Test {
 protected:
  // Photos/
  //   2014/x.txt  2014/deep/y.txt  empty/
  //   a.jpg  Long picture name.jpeg  .hidden  notes.txt
  //   link-to-2014 -> 2014   link-to-a.jpg -> a.jpg   dangling -> missing   loop -> .   fifo
  void SetUp() override {
    folder_.MakeFile("Photos/2014/x.txt", "xx");
    folder_.MakeFile("Photos/2014/deep/y.txt", "yyy");
    folder_.MakeDir("Photos/empty");
    folder_.MakeFile("Photos/a.jpg", "abc");
    folder_.MakeFile("Photos/Long picture name.jpeg", "long");
    folder_.MakeFile("Photos/.hidden", "h");
    folder_.MakeFile("Photos/notes.txt", "notes");
    folder_.MakeLink("2014", "Photos/link-to-2014");
    folder_.MakeLink("a.jpg", "Photos/link-to-a.jpg");
    folder_.MakeLink("missing", "Photos/dangling");
    folder_.MakeLink(".", "Photos/loop");
    mkfifo(folder_.Path("Photos/fifo").c_str(), 0644);
    // Without Rock Ridge links are followed or left out; the cases with it
    // turn it on.
    cd_.RockRidge = false;
    ClearAll(cd_);
  }

  pDirEntry InsertPhotos(std::u16string_view spec, bool recursive, bool savePath,
                         const std::string& relative = "Photos") {
    return InsertDirW(cd_, u"\\", folder_.WidePath(relative), spec, recursive, savePath);
  }

  pFileEntry Entry(std::u16string_view dir, std::u16string_view name) {
    const std::int32_t id = FindFileW(cd_, dir, name);
    return id < 0 ? nullptr : cd_.Files[id].get();
  }

  TempFolder folder_;
  TCDFiles cd_;
};

TEST_F(TreeFolder, RecursiveInsertPutsSubfoldersFirstAndLeavesLinksToFoldersOut) {
  ASSERT_EQ(InsertPhotos(u"*.*", true, false), cd_.RootDir) << LastTreeError(cd_);
  EXPECT_EQ(Listing(cd_.RootDir), (Names{"2014", "empty", ".hidden", "a.jpg", "link-to-a.jpg",
                                         "Long picture name.jpeg", "notes.txt"}));
  EXPECT_EQ(Listing(LookupDir(cd_, u"\\2014")), (Names{"deep", "x.txt"}));
  EXPECT_EQ(Listing(LookupDir(cd_, u"\\2014\\deep")), (Names{"y.txt"}));
  EXPECT_EQ(cd_.DirCounter(), 4);
  EXPECT_EQ(cd_.FileCounter(), 3 + 5 + 2);
  EXPECT_TRUE(LastTreeError(cd_).empty());

  const pFileEntry x = Entry(u"\\2014", u"x.txt");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(N(SourcePath(*x)), folder_.Path("Photos/2014/x.txt"));
  EXPECT_EQ(x->FileSize, 2);
  EXPECT_TRUE(x->Unicode);
  EXPECT_STREQ(Entry(u"\\", u"Long picture name.jpeg")->ShortName, "LONGPI~1.JPE");
  EXPECT_EQ(Entry(u"\\", u".hidden")->attributes & kAttributeHidden, kAttributeHidden);
  EXPECT_EQ(Entry(u"\\", u"link-to-a.jpg")->FileSize, 3);
  const pDirEntry year = LookupDir(cd_, u"\\2014");
  EXPECT_STREQ(year->ShortName, "2014");
  EXPECT_EQ(year->Parent, cd_.RootDir);
  EXPECT_EQ(year->OwnEntry, Entry(u"\\", u"2014"));
  EXPECT_FALSE(HasSourcePath(*year->OwnEntry));
}

TEST_F(TreeFolder, SpecsAndRecursionChooseWhatGoesIn) {
  struct Case {
    std::u16string spec;
    bool recursive;
    Names root;
    std::int32_t dirs;
  };
  const std::vector<Case> cases = {
      {u"*.*", false, {".hidden", "a.jpg", "link-to-a.jpg", "Long picture name.jpeg", "notes.txt"}, 1},
      {u"*.txt", false, {"notes.txt"}, 1},
      {u"*.TXT", true, {"2014", "empty", "notes.txt"}, 4},
      {u"*.jp*", false, {"a.jpg", "link-to-a.jpg", "Long picture name.jpeg"}, 1},
      {u"", false, {".hidden", "a.jpg", "link-to-a.jpg", "Long picture name.jpeg", "notes.txt"}, 1},
      {u"*.none", true, {"2014", "empty"}, 4},
  };
  for (const Case& c : cases) {
    ClearAll(cd_);
    EXPECT_EQ(InsertPhotos(c.spec, c.recursive, false), cd_.RootDir) << N(c.spec);
    EXPECT_EQ(Listing(cd_.RootDir), c.root) << N(c.spec);
    EXPECT_EQ(cd_.DirCounter(), c.dirs) << N(c.spec);
  }
  EXPECT_EQ(Listing(LookupDir(cd_, u"\\2014")), (Names{"deep"}));
}

TEST_F(TreeFolder, SavePathRecreatesTheFoldersOwnPath) {
  const pDirEntry photos = InsertPhotos(u"*.*", false, true);
  ASSERT_NE(photos, nullptr) << LastTreeError(cd_);
  std::u16string expected = u"\\";
  for (const auto& part : std::filesystem::path(folder_.Path("Photos"))) {
    if (part != "/") expected += W(part.string()) + u"\\";
  }
  EXPECT_EQ(DirPathOf(photos), expected);
  EXPECT_EQ(Listing(photos).size(), 5u);

  // "." and ".." in the source path are resolved, never created as names.
  ClearAll(cd_);
  const pDirEntry again = InsertPhotos(u"*.*", false, true, "Photos/2014/../.");
  ASSERT_NE(again, nullptr) << LastTreeError(cd_);
  EXPECT_EQ(DirPathOf(again), expected);
}

TEST_F(TreeFolder, InsertingTwiceMerges) {
  ASSERT_NE(InsertPhotos(u"*.*", true, false), nullptr);
  const std::int32_t files = cd_.FileCounter();
  const std::int32_t dirs = cd_.DirCounter();
  const pFileEntry x = Entry(u"\\2014", u"x.txt");
  ASSERT_NE(InsertPhotos(u"*.*", true, false), nullptr);
  EXPECT_EQ(cd_.FileCounter(), files);
  EXPECT_EQ(cd_.DirCounter(), dirs);
  EXPECT_EQ(Entry(u"\\2014", u"x.txt"), x);
}

TEST_F(TreeFolder, SkippedFolderLeavesItsContentOut) {
  std::vector<std::u16string> offered;
  cd_.cbAddFileEvent = [&](void*, const char16_t* path, TWin32FindDataW& fd, bool& skip) {
    offered.push_back(path != nullptr ? path : u"(none)");
    skip = FieldText(fd.cFileName) == u"2014";
  };
  ASSERT_EQ(InsertPhotos(u"*.*", true, false), cd_.RootDir) << LastTreeError(cd_);
  EXPECT_EQ(LookupDir(cd_, u"\\2014"), nullptr);
  EXPECT_EQ(FindFileW(cd_, u"\\", u"2014"), -1);
  EXPECT_EQ(cd_.DirCounter(), 2);  // the root and empty
  EXPECT_EQ(cd_.FileCounter(), 1 + 5);
  EXPECT_EQ(offered.front(), folder_.WidePath("Photos/2014"));
  EXPECT_TRUE(LastTreeError(cd_).empty());
}

TEST_F(TreeFolder, LongNamedFolderIsLeftOutWithItsContent) {
  const std::string longName(230, 'L');
  folder_.MakeFile("Photos/" + longName + "/inside.txt", "i");
  ASSERT_EQ(InsertPhotos(u"*.*", true, false), cd_.RootDir) << LastTreeError(cd_);
  EXPECT_EQ(FindFileW(cd_, u"\\", W(longName)), -1);
  EXPECT_EQ(cd_.DirCounter(), 4);
  for (const auto& dir : cd_.Dirs) {
    if (dir.get() != cd_.RootDir) {
      EXPECT_NE(dir->OwnEntry, nullptr);
    }
  }
}

TEST_F(TreeFolder, BadSourcesFailWithAReason) {
  folder_.MakeFile("plain.txt", "p");
  struct Case {
    std::string label;
    std::u16string dest;
    std::u16string dirPath;
  };
  const std::vector<Case> cases = {
      {"missing folder", u"\\", folder_.WidePath("nowhere")},
      {"a file, not a folder", u"\\", folder_.WidePath("plain.txt")},
      {"empty path", u"\\", u""},
      {"missing destination", u"\\Nowhere", folder_.WidePath("Photos")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(InsertDirW(cd_, c.dest, c.dirPath, u"*.*", true, true), nullptr) << c.label;
    EXPECT_FALSE(LastTreeError(cd_).empty()) << c.label;
    EXPECT_EQ(cd_.DirCounter(), 1) << c.label;  // nothing created, not even the saved path
  }
  // A file name the tree cannot take fails the insert unless the handler mends it.
  folder_.MakeFile("Photos/back\\slash.txt", "b");
  EXPECT_EQ(InsertPhotos(u"*.*", false, false), nullptr);
  EXPECT_NE(LastTreeError(cd_).find("separator"), std::string::npos);
  cd_.cbAddFileEvent = [](void*, const char16_t*, TWin32FindDataW& fd, bool& skip) {
    skip = FieldText(fd.cFileName).find(u'\\') != std::u16string_view::npos;
  };
  EXPECT_EQ(InsertPhotos(u"*.*", false, false), cd_.RootDir);
}

TEST_F(TreeFolder, UnreadableSubfolderFailsTheInsert) {
  chmod(folder_.Path("Photos/2014/deep").c_str(), 0);
  const std::u16string photos = folder_.WidePath("Photos");
  EXPECT_TRUE(velmor_test::RunUnprivileged([&] {
    TCDFiles cd;
    cd.RockRidge = false;
    ClearAll(cd);
    return InsertDirW(cd, u"\\", photos, u"*.*", true, false) == nullptr &&
           LastTreeError(cd).find("Permission denied") != std::string::npos &&
           LastTreeError(cd).find("deep") != std::string::npos;
  }));
}

TEST_F(TreeFolder, InsertFileTakesOrdinaryFilesOnly) {
  const std::string big = folder_.MakeFile("big.bin");
  std::filesystem::resize_file(big, (6ull << 30) + 1);  // sparse
  folder_.SetWriteTime("big.bin", 1'700'000'000);

  const pFileEntry entry = InsertFile(cd_, "\\", big);
  ASSERT_NE(entry, nullptr) << LastTreeError(cd_);
  EXPECT_EQ(entry->FileSize, (6ll << 30) + 1);
  EXPECT_EQ(N(SourcePath(*entry)), big);
  EXPECT_FALSE(entry->Unicode);
  const TSystemTime local = LocalCalendarOfFileTime(FileTimeFromUnix(1'700'000'000, 0));
  EXPECT_EQ(entry->Time.wHour, local.wHour);
  EXPECT_EQ(entry->Time.wMinute, 13);
  EXPECT_STREQ(entry->ShortName, "BIG.BIN");

  EXPECT_EQ(InsertFile(cd_, "\\", folder_.Path("Photos/link-to-a.jpg"))->FileSize, 3);
  for (const char* bad : {"Photos", "Photos/link-to-2014", "Photos/dangling", "Photos/fifo",
                          "Photos/nothing.txt", "Photos/*.jpg"}) {
    EXPECT_EQ(InsertFile(cd_, "\\", folder_.Path(bad)), nullptr) << bad;
    EXPECT_FALSE(LastTreeError(cd_).empty()) << bad;
  }
  EXPECT_EQ(InsertFileW(cd_, u"\\Nowhere", W(big)), nullptr);
  EXPECT_EQ(cd_.FileCounter(), 2);
}

TEST_F(TreeFolder, ReplacingRefreshesTheSourceButKeepsTheFirstName) {
  const std::string first = folder_.MakeFile("one/readme.txt", "1");
  // Where names ignore case, the second file reaches the first's entry in other letter case.
  const std::string secondName = kNamesIgnoreCase ? "README.TXT" : "readme.txt";
  const std::string second = folder_.MakeFile("two/" + secondName, "22");
  const pFileEntry entry = InsertFile(cd_, "\\", first);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(InsertFile(cd_, "\\", second), entry);
  EXPECT_EQ(N(SourcePath(*entry)), first);
  EXPECT_EQ(cd_.FileCounter(), 1);

  entry->Extras.edit().Hash = "d41d8cd98f00b204e9800998ecf8427e";
  cd_.ReplaceFile = true;
  EXPECT_EQ(InsertFile(cd_, "\\", second), entry);
  EXPECT_EQ(N(SourcePath(*entry)), second);
  EXPECT_EQ(entry->FileSize, 2);
  EXPECT_EQ(entry->LongName, W(secondName));
  EXPECT_EQ(WindowsName(*entry), u"readme.txt");
  EXPECT_TRUE(entry->Extras.get().Hash.empty());
  EXPECT_EQ(cd_.FileCounter(), 1);
}

TEST_F(TreeFolder, InsertFileWithNameUsesTheGivenNames) {
  const std::string source = folder_.MakeFile("Photos/source.dat", "data");
  struct Case {
    std::u16string longName;
    std::u16string shortName;
    const char* expectedShort;  // null: refused
  };
  const std::vector<Case> cases = {
      {u"Report 2024.pdf", u"REPORT.PDF", "REPORT.PDF"},
      {u"derived name.txt", u"", "DERIVED NAME."},
      {u"too long short", u"12345678901234", nullptr},
      {u"", u"", nullptr},
  };
  for (const Case& c : cases) {
    const pFileEntry entry = InsertFileWithNameW(cd_, u"\\", W(source), c.longName, c.shortName);
    if (c.expectedShort == nullptr) {
      EXPECT_EQ(entry, nullptr) << N(c.longName);
      continue;
    }
    ASSERT_NE(entry, nullptr) << N(c.longName);
    EXPECT_STREQ(entry->ShortName, c.expectedShort);
    EXPECT_EQ(entry->LongName, c.longName);
    EXPECT_EQ(N(SourcePath(*entry)), source);
  }
  EXPECT_EQ(InsertFileWithNameW(cd_, u"\\", W(source), std::u16string(300, u'n'), u""), kSkippedEntry);
}

TEST_F(TreeFolder, UndecodableNamesKeepTheirBytes) {
  const std::string name = "caf\xE9.txt";  // Latin-1, not UTF-8
  folder_.MakeFile("odd/" + name, "x");
  ASSERT_NE(InsertDir(cd_, "\\", folder_.Path("odd"), "*.*", false, false), nullptr);
  ASSERT_EQ(cd_.FileCounter(), 1);
  EXPECT_EQ(N(SourcePath(*cd_.Files[0])), folder_.Path("odd/" + name));
  EXPECT_TRUE(std::filesystem::exists(N(SourcePath(*cd_.Files[0]))));
}

// Left-out items by the end of their source path, and the reason given.
std::vector<std::pair<std::string, std::string>> LeftOut(const TCDFiles& cd, const std::string& base) {
  std::vector<std::pair<std::string, std::string>> items;
  for (const TLeftOutItem& item : LeftOutItems(cd)) {
    std::string path = N(item.Path);
    if (path.starts_with(base)) path.erase(0, base.size());
    items.emplace_back(path, item.Reason);
  }
  return items;
}

// A socket bound at path, gone with the folder.
void MakeSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
  ::close(fd);
}

TEST_F(TreeFolder, EveryItemNotRecordedIsNamedWithItsReason) {
  MakeSocket(folder_.Path("Photos/socket"));
  folder_.MakeFile("Photos/" + std::string(230, 'L') + ".txt", "l");
  ASSERT_EQ(InsertPhotos(u"*.*", true, false), cd_.RootDir) << LastTreeError(cd_);
  const std::string base = folder_.Path("Photos/");
  const std::string noData = "neither a file nor a folder (a device, FIFO or socket)";
  EXPECT_EQ(LeftOut(cd_, base), (std::vector<std::pair<std::string, std::string>>{
                                    {"link-to-2014", "a link to a folder, not followed"},
                                    {"loop", "a link to a folder, not followed"},
                                    {"dangling", "a link that leads to no file or folder"},
                                    {"fifo", noData},
                                    {std::string(230, 'L') + ".txt", "name longer than 217 characters"},
                                    {"socket", noData},
                                })) << "in the order met: subfolders first, then files";

  // InsertFile fails on such an item, and names it too; ClearAll forgets them.
  EXPECT_EQ(InsertFile(cd_, "\\", folder_.Path("Photos/fifo")), nullptr);
  EXPECT_EQ(LeftOutItems(cd_).back().Reason, noData);
  ClearAll(cd_);
  EXPECT_TRUE(LeftOutItems(cd_).empty());
}

TEST_F(TreeFolder, ASecondItemOfOneNameIsNamedAsLeftOut) {
  folder_.MakeFile("Other/a.jpg", "other");
  ASSERT_NE(InsertPhotos(u"*.*", false, false), nullptr);
  const std::size_t before = LeftOutItems(cd_).size();
  ASSERT_NE(InsertDir(cd_, "\\", folder_.Path("Other"), "*.*", false, false), nullptr);
  ASSERT_EQ(LeftOutItems(cd_).size(), before + 1);
  EXPECT_EQ(N(LeftOutItems(cd_).back().Path), folder_.Path("Other/a.jpg"));
  EXPECT_EQ(LeftOutItems(cd_).back().Reason, "a file named \"a.jpg\" is in its folder of the compilation already");
  EXPECT_EQ(Entry(u"\\", u"a.jpg")->FileSize, 3) << "the first stays";
}

#ifndef _WIN32
// File names here are case-sensitive: both go in, and each tree tells them
// apart in its own way.
TEST_F(TreeFolder, NamesThatDifferOnlyInCaseAreBothRecorded) {
  folder_.MakeFile("Case/readme.txt", "lower");
  folder_.MakeFile("Case/README.TXT", "UPPER!");
  folder_.MakeFile("Case/Docs/in.txt", "d");
  folder_.MakeFile("Case/docs/in.txt", "dd");
  ASSERT_NE(InsertDir(cd_, "\\", folder_.Path("Case"), "*.*", true, false), nullptr) << LastTreeError(cd_);
  EXPECT_TRUE(LeftOutItems(cd_).empty());
  EXPECT_EQ(Listing(cd_.RootDir), (Names{"Docs", "docs", "README.TXT", "readme.txt"}));
  EXPECT_EQ(Entry(u"\\", u"readme.txt")->FileSize, 5);
  EXPECT_EQ(Entry(u"\\", u"README.TXT")->FileSize, 6);
  EXPECT_EQ(Entry(u"\\docs", u"in.txt")->FileSize, 2);
  EXPECT_EQ(Entry(u"\\Docs", u"in.txt")->FileSize, 1);

  ASSERT_GT(Prepare(cd_), 0u);
  std::vector<std::string> iso;
  std::vector<std::u16string> joliet;
  for (pFileEntry e = cd_.RootDir->Files; e != nullptr; e = e->NextFile) {
    iso.push_back(e->IdentifierISO);
    joliet.push_back(e->Extras.get().IdentifierJoliet.empty() ? e->LongName : e->Extras.get().IdentifierJoliet);
  }
  std::sort(iso.begin(), iso.end());
  EXPECT_EQ(std::adjacent_find(iso.begin(), iso.end()), iso.end()) << "ISO 9660 names are unique";
  std::sort(joliet.begin(), joliet.end());
  EXPECT_EQ(joliet, (std::vector<std::u16string>{u"Docs", u"README.TXT", u"docs", u"readme.txt"}));
}
#endif

}  // namespace
