// Image mounting and session import through the component, on images made by
// independent tools and by our own build: the compilation must hold exactly
// the tree xorriso reads from the Joliet directories (names, sizes, extents),
// and a session laid out after an import must point at the old extents.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "ReaderCheckFixtures.h"
#include "ReaderTools.h"
#include "image/CompilationListing.h"
#include "engine/KilnorPro.h"
#include "engine/image/ISO9660.h"
#include "engine/image/Tree.h"
#include "engine/platform/Unicode.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kSector = 2048;

// Names Joliet keeps whole with every tool (at most 64 characters); one
// longer name that only -joliet-long or our own build records whole; and a
// ";" inside a name, which only our own build records as it is.
void PopulateSource(const fs::path& src, bool longName, bool semicolon) {
  WriteFile(src / "a.txt", "hello");
  WriteFile(src / "empty", "");
  if (semicolon) WriteFile(src / "semi;colon.txt", "semicolon");
  WriteFile(src / "sub" / "b.bin", Pattern(5000, 1));
  WriteFile(src / "sub" / "deep" / "\xc3\xbc" "n\xc3\xaf" "c\xc3\xb6" "de name.txt", Pattern(70000, 2));
  fs::create_directories(src / "sub" / "empty folder");
  if (longName) WriteFile(src / "sub" / (std::string(90, 'L') + ".txt"), "long");
}

// "path size @extent" of every file ("@0" when it has no data) and "path/"
// of every directory, as xorriso reads the Joliet tree (Rock Ridge ignored),
// paths relative to Root.
std::set<std::string> XorrisoListing(const fs::path& image, const std::string& loadOption = "",
                                     const std::string& root = "/") {
  std::set<std::string> lines;
  const std::string indev = "xorriso -indev " + Quoted(image) + " " + loadOption + " -read_fs norock ";
  const TCommandResult files = RunTool(indev + "-find " + Quoted(root) + " -type f -exec report_lba -- 2>/dev/null");
  const std::regex fileLine(R"(File data lba:\s+0 ,\s+(\d+) ,\s+\d+ ,\s+(\d+) , '(.*)')");
  std::istringstream in(files.Output);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (!std::regex_search(line, m, fileLine)) continue;
    const std::string extent = m[2] == "0" ? "0" : m[1].str();
    lines.insert(m[3].str() + " " + m[2].str() + " @" + extent);
  }
  const TCommandResult dirs = RunTool(indev + "-find " + Quoted(root) + " -type d 2>/dev/null");
  std::istringstream dirLines(dirs.Output);
  for (std::string line; std::getline(dirLines, line);) {
    if (line.size() > 2 && line.front() == '\'' && line.back() == '\'' && line != "'" + root + "'")
      lines.insert(line.substr(1, line.size() - 2) + "/");
  }
  return lines;
}

std::set<std::string> CompilationListing(const TKilnorPro& kp) {
  const std::vector<std::string> lines = test::CompilationListing(kp.CDFiles);
  return {lines.begin(), lines.end()};
}

// Path -> hash of the content of every item below Root, so that a mismatch
// prints short lines.
std::map<std::string, std::size_t> Digests(const fs::path& root) {
  std::map<std::string, std::size_t> digests;
  for (const auto& [path, content] : Snapshot(root)) digests[path] = std::hash<std::string>()(content);
  return digests;
}

struct TImageMaker {
  const char* Name;
  const char* Command;  // IMG and SRC stand for the paths; empty: our own build
  bool LongName;
  bool Semicolon;
};

const TImageMaker kMakers[] = {
    {"XorrisoJoliet", "xorriso -as mkisofs -J -V MOUNTED -o IMG SRC", false, false},
    {"XorrisoJolietLong", "xorriso -as mkisofs -J -joliet-long -V MOUNTED -o IMG SRC", true, false},
    {"GenisoimageJolietRockRidge", "genisoimage -J -R -V MOUNTED -o IMG SRC", false, false},
    {"OwnBuild", "", true, true},
};

[[nodiscard]] ::testing::AssertionResult MakeImage(const TImageMaker& maker, const fs::path& src,
                                                   const fs::path& image) {
  if (std::string(maker.Command).empty()) {
    TKilnorPro builder;
    return BuildImage(builder, src, image, "MOUNTED");
  }
  std::string command = maker.Command;
  command.replace(command.find("IMG"), 3, Quoted(image));
  command.replace(command.find("SRC"), 3, Quoted(src));
  const TCommandResult made = RunTool(command + " 2>&1");
  if (made.ExitCode != 0) return ::testing::AssertionFailure() << command << ": " << made.Output;
  return ::testing::AssertionSuccess();
}

class MountImage : public testing::TestWithParam<TImageMaker> {
 protected:
  void SetUp() override {
    if (!HaveTool("xorriso")) GTEST_SKIP() << "xorriso is not installed";
    const std::string command = GetParam().Command;
    if (command.starts_with("genisoimage") && !HaveTool("genisoimage")) GTEST_SKIP() << "genisoimage is not installed";
    src_ = scratch_.path() / "src";
    image_ = scratch_.path() / "image.iso";
    PopulateSource(src_, GetParam().LongName, GetParam().Semicolon);
    ASSERT_TRUE(MakeImage(GetParam(), src_, image_));
  }

  TTempDir scratch_;
  fs::path src_;
  fs::path image_;
};

TEST_P(MountImage, TheCompilationHoldsExactlyTheImagesTree) {
  TKilnorPro kp;
  kp.ClearAll();
  std::set<std::uint16_t> statusSeen;
  kp.SetOnAddFile([&](void*, const char16_t*, TWin32FindDataW&, bool&) { statusSeen.insert(kp.ComponentStatus()); });
  kp.CDFiles.cbAddFileEvent = kp.OnAddFile();
  ASSERT_TRUE(kp.MountISOImage(image_.string())) << kp.LastImport().Reason;
  EXPECT_EQ(kp.ComponentStatus(), stIdle);
  EXPECT_EQ(statusSeen, (std::set<std::uint16_t>{stImportingSession}));
  EXPECT_EQ(kp.LastImport().VolumeLabel, u"MOUNTED");
  const std::set<std::string> expected = XorrisoListing(image_);
  ASSERT_TRUE(expected.contains("/sub/deep/"));
  EXPECT_EQ(CompilationListing(kp), expected);
  // Mounting again adds nothing.
  const std::uint32_t files = kp.FilesCount();
  ASSERT_TRUE(kp.MountISOImage(image_.string()));
  EXPECT_EQ(kp.FilesCount(), files);
}

// The session laid out after the import, placed behind the image as the next
// session of a disc would be, records the old files at their old extents:
// xorriso reads the source tree back from it, plus the new folder.
TEST_P(MountImage, ASessionLaidOutAfterTheImportPointsAtTheOldExtents) {
  if (!HaveTool("osirrox")) GTEST_SKIP() << "osirrox is not installed";
  TKilnorPro kp;
  kp.ClearAll();
  ASSERT_TRUE(kp.MountISOImage(image_.string()));
  ASSERT_NE(kp.CreateDir("\\", "added later"), nullptr);
  ASSERT_GT(kp.Prepare(), 0u);
  const std::uint32_t start = static_cast<std::uint32_t>((fs::file_size(image_) / kSector + 31) / 32 * 32);
  kp.CDFiles.FirstWritableSector = start;
  kp.CDFiles.VDImageSize = start;
  ASSERT_TRUE(GenerateHeader(kp.CDFiles));

  const fs::path disc = scratch_.path() / "two-sessions.iso";
  fs::copy_file(image_, disc);
  fs::resize_file(disc, std::uintmax_t{start} * kSector);
  {
    std::ofstream out(disc, std::ios::binary | std::ios::app);
    const std::vector<std::uint8_t> header = WholeHeader(kp.CDFiles);
    ASSERT_EQ(header.size(), static_cast<std::size_t>(kp.CDFiles.IsoHeaderSize));
    out.write(reinterpret_cast<const char*>(header.data()), kp.CDFiles.IsoHeaderSize);
  }
  fs::resize_file(disc, (std::uintmax_t{start} + kp.CDFiles.TotalImageSize) * kSector);

  const std::string load = "-load sbsector " + std::to_string(start);
  std::set<std::string> expected = XorrisoListing(image_);
  expected.insert("/added later/");
  EXPECT_EQ(XorrisoListing(disc, load), expected);

  const fs::path out = scratch_.path() / "extracted";
  ASSERT_EQ(RunTool("osirrox -indev " + Quoted(disc) + " " + load + " -extract / " + Quoted(out) + " 2>&1").ExitCode, 0);
  static_cast<void>(RunTool("chmod -R u+w " + Quoted(out)));
  std::map<std::string, std::size_t> wanted = Digests(src_);
  wanted["added later"] = std::hash<std::string>()("/");
  EXPECT_EQ(Digests(out), wanted);
}

INSTANTIATE_TEST_SUITE_P(Makers, MountImage, testing::ValuesIn(kMakers),
                         [](const testing::TestParamInfo<TImageMaker>& info) { return info.param.Name; });

struct TBadImage {
  const char* Name;
  std::uint32_t Error;
  const char* Reason;
  void (*Make)(const fs::path& good, const fs::path& bad);
};

const TBadImage kBadImages[] = {
    {"Missing", erFileOpen, "cannot open the image file", [](const fs::path&, const fs::path&) {}},
    {"NotAnImage", erImportFailed, "no ISO 9660 volume descriptor",
     [](const fs::path&, const fs::path& bad) { WriteFile(bad, Pattern(100000, 3)); }},
    {"CutAfterItsDescriptors", erImportFailed, "lies outside the volume of 19 sectors",
     [](const fs::path& good, const fs::path& bad) {
       fs::copy_file(good, bad);
       fs::resize_file(bad, 19 * kSector);
     }},
};

// A failed mount reports why, adds nothing and leaves the component idle.
TEST(MountImageFailure, IsReportedAndLeavesTheCompilationAsItWas) {
  if (!HaveTool("xorriso")) GTEST_SKIP() << "xorriso is not installed";
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  PopulateSource(src, false, false);
  const fs::path good = scratch.path() / "good.iso";
  ASSERT_TRUE(MakeImage(kMakers[0], src, good));
  for (const TBadImage& bad : kBadImages) {
    SCOPED_TRACE(bad.Name);
    const fs::path image = scratch.path() / (std::string(bad.Name) + ".iso");
    bad.Make(good, image);
    TKilnorPro kp;
    kp.ClearAll();
    ASSERT_NE(kp.CreateDir("\\", "mine"), nullptr);
    EXPECT_FALSE(kp.MountISOImage(image.string()));
    EXPECT_NE(kp.LastImport().Reason.find(bad.Reason), std::string::npos) << kp.LastImport().Reason;
    EXPECT_EQ(kp.ErrorNumber(), bad.Error);
    EXPECT_EQ(kp.ComponentStatus(), stIdle);
    EXPECT_EQ(CompilationListing(kp), (std::set<std::string>{"/mine/"}));
  }
}

}  // namespace
}  // namespace kilnor::test
