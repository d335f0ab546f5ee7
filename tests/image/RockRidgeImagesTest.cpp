// Session import of images that independent tools made with Rock Ridge from
// a POSIX tree (symbolic links of every kind, execute and setuid bits, a
// 250-byte name, names Joliet cannot hold, a tree deep enough to be
// relocated): the compilation gets exactly the names, modes, link targets and
// modification times the tree had. The same images with bytes patched into
// their system use areas are refused safely with a reason.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ReaderTools.h"
#include "engine/image/ImageFileSectors.h"
#include "engine/image/SessionImport.h"
#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"
#include "image/SessionFixture.h"

using namespace kilnor;
using namespace kilnor::test;

namespace {

namespace fs = std::filesystem;

enum class TKind { File, Folder, Link };

struct TItem {
  std::string Path;
  TKind Kind = TKind::File;
  std::uint32_t Permissions = 0644;  // a link's target for links
  std::string Target = {};
};

const std::string kLongName = [] {
  std::string name;
  for (int i = 0; i < 125; ++i) name += "\xc3\xa9";  // 250 bytes
  return name;
}();

const std::string kDeep = "d1/d2/d3/d4/d5/d6/d7/d8/d9/d10";

const std::vector<TItem> kTree = {
    {"plain.txt"},
    {"run.sh", TKind::File, 0755},
    {"setuid", TKind::File, 04755},
    {"folder", TKind::Folder, 0750},
    {"folder/inner", TKind::File, 0600},
    {"relative", TKind::Link, 0, "plain.txt"},
    {"absolute", TKind::Link, 0, "/usr/share/doc"},
    {"dangling", TKind::Link, 0, "no/such/file"},
    {"to-folder", TKind::Link, 0, "folder"},
    {"dots", TKind::Link, 0, "../up/./here"},
    {kLongName},
    {"what?*.txt"},
    {"colon:semi;quote\"<>|"},
    {"d1", TKind::Folder, 0755},
    {kDeep, TKind::Folder, 0755},
    {kDeep + "/leaf"},
};

constexpr std::int64_t kFirstTime = 1'500'000'000;

std::int64_t TimeOf(std::size_t index) { return kFirstTime + static_cast<std::int64_t>(index) * 1000; }

void Populate(const fs::path& root) {
  for (const TItem& item : kTree) {
    const fs::path path = root / item.Path;
    fs::create_directories(path.parent_path());
    if (item.Kind == TKind::Folder) fs::create_directories(path);
    if (item.Kind == TKind::File) std::ofstream(path) << item.Path;
    if (item.Kind == TKind::Link) fs::create_symlink(item.Target, path);
    if (item.Kind != TKind::Link) {
      ASSERT_EQ(chmod(path.c_str(), item.Permissions), 0);
    }
  }
  // Times last, deepest first, so that filling a folder does not change its own.
  for (std::size_t i = kTree.size(); i-- > 0;) {
    const timespec times[2] = {{TimeOf(i), 0}, {TimeOf(i), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (root / kTree[i].Path).c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }
}

std::uint32_t PermissionsOf(const TItem& item) { return item.Kind == TKind::Link ? 0777 : item.Permissions; }

// Permissions as the rationalising option (-r) records them: readable by
// all, executable by all when any execute bit is set (links included),
// nothing else.
std::uint32_t Rationalised(const TItem& item) {
  if (item.Kind == TKind::Folder) return 0555;
  return (PermissionsOf(item) & 0111) != 0 ? 0555 : 0444;
}

std::uint32_t TypeOf(TKind kind) {
  return kind == TKind::Folder ? 0040000 : kind == TKind::Link ? 0120000 : 0100000;
}

pFileEntry Lookup(TCDFiles& cd, const std::string& path) {
  const std::u16string wide = Utf8ToUtf16(path);
  const std::size_t slash = wide.rfind(u'/');
  std::u16string folder = u"\\" + (slash == std::u16string::npos ? u"" : wide.substr(0, slash));
  for (char16_t& c : folder)
    if (c == u'/') c = u'\\';
  const pDirEntry dir = LookupDir(cd, folder);
  return dir == nullptr ? nullptr : LookupEntry(dir, slash == std::u16string::npos ? wide : wide.substr(slash + 1));
}

struct ToolCase {
  const char* command;  // made with: COMMAND -o IMAGE SOURCE
  bool rationalised;
};

const ToolCase kTools[] = {
    {"xorriso -as mkisofs -R -J", false},
    {"genisoimage -R -J -joliet-long", false},
    {"genisoimage -r", true},
};

class RockRidgeImages : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"xorriso", "genisoimage"})
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
    Populate(dir_.path() / "src");
    ClearAll(cd_);
  }

  fs::path Make(const std::string& command) {
    const fs::path image = dir_.path() / "rr.iso";
    const TCommandResult made =
        RunTool(command + " -quiet -o " + Quoted(image) + " " + Quoted(dir_.path() / "src") + " 2>&1");
    EXPECT_EQ(made.ExitCode, 0) << made.Output;
    return image;
  }

  TImportReport Mount(const fs::path& image) {
    TImageFileSectors sectors(image.string());
    return ImportVolume(cd_, sectors, {0, kImageCandidateSectors, 0}, cd_.RootDir);
  }

  TTempDir dir_;
  TCDFiles cd_;
};

TEST_F(RockRidgeImages, ImportGivesExactlyTheRecordedNamesModesLinksAndTimes) {
  for (const ToolCase& tool : kTools) {
    SCOPED_TRACE(tool.command);
    ClearAll(cd_);
    const TImportReport report = Mount(Make(tool.command));
    ASSERT_TRUE(report.Imported) << report.Reason;
    EXPECT_TRUE(report.RockRidge);
    EXPECT_TRUE(report.LeftOut.empty()) << report.LeftOut.front();
    for (std::size_t i = 0; i < kTree.size(); ++i) {
      const TItem& item = kTree[i];
      SCOPED_TRACE(item.Path);
      const pFileEntry entry = Lookup(cd_, item.Path);
      ASSERT_NE(entry, nullptr);
      ASSERT_NE(entry->Posix, nullptr);
      const std::uint32_t permissions = tool.rationalised ? Rationalised(item) : PermissionsOf(item);
      EXPECT_EQ(entry->Posix->Mode, TypeOf(item.Kind) | permissions) << std::oct << entry->Posix->Mode;
      EXPECT_EQ(entry->Posix->Names.get().LinkTarget, item.Target);
      EXPECT_EQ(entry->Posix->Modify.Seconds, TimeOf(i));
      EXPECT_EQ(entry->DirRecord != nullptr, item.Kind == TKind::Folder);
      const std::size_t size = item.Kind == TKind::File ? item.Path.size() : 0;
      EXPECT_EQ(entry->FileSize, static_cast<std::int64_t>(size));
    }
  }
}

TEST_F(RockRidgeImages, WithoutRockRidgeTheJolietTreeImportsAsBefore) {
  const TImportReport report = Mount(Make("genisoimage -J -joliet-long -D"));
  ASSERT_TRUE(report.Imported) << report.Reason;
  EXPECT_FALSE(report.RockRidge);
  const pFileEntry plain = Lookup(cd_, "plain.txt");
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->FileSize, 9);
  for (const auto& entry : cd_.Files) EXPECT_EQ(entry->Posix, nullptr) << Utf16ToUtf8(entry->LongName);
}

// Where one root record's system use entries stand in an image.
struct TRecordPlace {
  std::size_t Area = 0;        // image offset of the record's system use area
  std::size_t AreaLength = 0;
  std::map<std::string, std::size_t> Entries;  // signature -> image offset
};

std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The root record whose area holds the entry Signature, and an NM naming
// Name when Name is given.
std::optional<TRecordPlace> FindRecord(const std::vector<std::uint8_t>& image, const std::string& signature,
                                       const std::string& name = "") {
  const std::size_t root = std::size_t{Le32(image, 16 * 2048 + 158)} * 2048;
  for (std::size_t record = root; image[record] != 0; record += image[record]) {
    const std::size_t idLength = image[record + 32];
    TRecordPlace place;
    place.Area = record + 33 + idLength + (idLength % 2 == 0 ? 1 : 0);
    place.AreaLength = record + image[record] - place.Area;
    bool named = name.empty();
    for (std::size_t at = place.Area; at + 4 <= place.Area + place.AreaLength && image[at + 2] >= 4;
         at += image[at + 2]) {
      const std::string entry(reinterpret_cast<const char*>(&image[at]), 2);
      place.Entries[entry] = at;
      if (entry == "NM" && std::string(reinterpret_cast<const char*>(&image[at + 5]), image[at + 2] - 5) == name)
        named = true;
    }
    if (named && place.Entries.contains(signature)) return place;
  }
  return std::nullopt;
}

void PutBoth32(std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    image[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    image[at + 7 - i] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

using TPatch = void (*)(std::vector<std::uint8_t>&);

struct PatchCase {
  const char* what;
  TPatch patch;
  const char* reason;
};

// The long name does not fit its record, so its record chains a CE.
std::size_t ContinuationOf(std::vector<std::uint8_t>& image) {
  const std::optional<TRecordPlace> place = FindRecord(image, "CE");
  EXPECT_TRUE(place.has_value());
  return place ? place->Entries.at("CE") : 0;
}

std::size_t EntryOfPlain(std::vector<std::uint8_t>& image, const std::string& signature) {
  const std::optional<TRecordPlace> place = FindRecord(image, signature, "plain.txt");
  EXPECT_TRUE(place.has_value());
  return place ? place->Entries.at(signature) : 0;
}

const PatchCase kPatches[] = {
    {"a CE pointing past the image",
     [](std::vector<std::uint8_t>& image) { PutBoth32(image, ContinuationOf(image) + 4, 0x00FFFFFF); },
     "lies outside the volume"},
    {"a CE naming its own record's area",
     [](std::vector<std::uint8_t>& image) {
       const TRecordPlace place = *FindRecord(image, "CE");
       const std::size_t ce = place.Entries.at("CE");
       PutBoth32(image, ce + 4, static_cast<std::uint32_t>(place.Area / 2048));
       PutBoth32(image, ce + 12, static_cast<std::uint32_t>(place.Area % 2048));
       PutBoth32(image, ce + 20, static_cast<std::uint32_t>(place.AreaLength));
     },
     "a loop of continuation areas"},
    {"an entry length of 0", [](std::vector<std::uint8_t>& image) { image[EntryOfPlain(image, "PX") + 2] = 0; },
     "of 0 bytes, fewer than 4"},
    {"an entry length past the area", [](std::vector<std::uint8_t>& image) { image[EntryOfPlain(image, "NM") + 2] = 250; },
     "passes the end of its area"},
    {"an NM split that never ends", [](std::vector<std::uint8_t>& image) { image[EntryOfPlain(image, "NM") + 4] |= 1; },
     "never comes"},
    {"a PX too short", [](std::vector<std::uint8_t>& image) { image[EntryOfPlain(image, "PX") + 2] = 20; },
     "neither 36 nor 44"},
};

TEST_F(RockRidgeImages, PatchedSystemUseAreasAreRefusedWithTheirReason) {
  const fs::path made = Make("xorriso -as mkisofs -R -J");
  std::ifstream in(made, std::ios::binary);
  const std::vector<std::uint8_t> sound((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto sectors = static_cast<std::uint32_t>(sound.size() / 2048);
  for (const PatchCase& c : kPatches) {
    SCOPED_TRACE(c.what);
    std::vector<std::uint8_t> image = sound;
    c.patch(image);
    TMemorySectors source(sectors);
    for (std::uint32_t s = 0; s < sectors; ++s)
      std::copy_n(image.begin() + std::ptrdiff_t{s} * 2048, 2048, source.At(s).begin());
    ClearAll(cd_);
    const TImportReport report = ImportVolume(cd_, source, {0, kImageCandidateSectors, 0}, cd_.RootDir);
    EXPECT_FALSE(report.Imported);
    EXPECT_NE(report.Reason.find(c.reason), std::string::npos) << report.Reason;
    EXPECT_TRUE(cd_.Files.empty());
  }
}

}  // namespace
