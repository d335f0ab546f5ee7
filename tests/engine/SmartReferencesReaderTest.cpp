// Smart references as independent readers see them: twins in different
// folders under different names point at one extent in the ISO 9660, Joliet
// and UDF trees alike, the image is smaller by one copy, and what the
// readers extract is the source tree byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>

#include "ReaderCheckFixtures.h"
#include "ReaderTools.h"
#include "UDFReader.h"
#include "engine/KilnorPro.h"

namespace kilnor::test {
namespace {

namespace fs = std::filesystem;

// 64 sectors: the session, padded to 32 sectors, shrinks by exactly one copy.
constexpr std::size_t kTwinBytes = 64 * 2048;
const char* const kFirst = "/docs/report.bin";
const char* const kTwin = "/archive/old/copy.bin";
const char* const kUnique = "/unique.bin";

void PopulateTwins(const fs::path& src) {
  WriteFile(src / "docs" / "report.bin", Pattern(kTwinBytes, 7));
  WriteFile(src / "archive" / "old" / "copy.bin", Pattern(kTwinBytes, 7));
  WriteFile(src / "unique.bin", Pattern(kTwinBytes, 8));
  WriteFile(src / "small.txt", "small");
}

// Inserts src at the root, runs the pass when asked, and writes the image
// with the UDF bridge; the session's size in sectors.
std::uint32_t BuildTwinImage(const fs::path& src, const fs::path& image, bool smartReferences) {
  TKilnorPro kp;
  kp.ClearAll();
  kp.SetVolumeID("TWINS");
  kp.SetUDFBridge(true);
  EXPECT_NE(kp.InsertDirW(u"\\", src.u16string(), u"*", true, false), nullptr);
  if (smartReferences) {
    std::promise<bool> failed;
    kp.SetOnGenerateSmartReferencesDone([&](void*, bool Failed, std::int32_t) { failed.set_value(Failed); });
    EXPECT_TRUE(kp.GenerateSmartReferences());
    EXPECT_FALSE(failed.get_future().get());
  }
  EXPECT_GT(kp.Prepare(), 0u);
  TWriteWaiter waiter(kp);
  EXPECT_TRUE(kp.BuildISOImageW(image.u16string()));
  EXPECT_TRUE(waiter.Succeeded()) << kp.ErrorString();
  return kp.ImageSize();
}

// Path -> first sector of its data, as xorriso reports the files' layout.
std::map<std::string, std::uint32_t> XorrisoExtents(const fs::path& image) {
  const TCommandResult report = RunTool("xorriso -indev " + Quoted(image) + " -find / -exec report_lba --");
  EXPECT_EQ(report.ExitCode, 0) << report.Output;
  static const std::regex line(R"(File data lba:\s*\d+\s*,\s*(\d+)\s*,\s*\d+\s*,\s*\d+\s*,\s*'([^']*)')");
  std::map<std::string, std::uint32_t> extents;
  for (std::sregex_iterator it(report.Output.begin(), report.Output.end(), line), end; it != end; ++it) {
    extents[(*it)[2]] = static_cast<std::uint32_t>(std::stoul((*it)[1]));
  }
  return extents;
}

// Path (lower case, without version) -> extent, as isoinfo lists the ISO
// 9660 tree or, with "-J", the Joliet tree.
std::map<std::string, std::uint32_t> IsoinfoExtents(const fs::path& image, const std::string& tree) {
  const TCommandResult listing = RunTool("isoinfo " + tree + " -l -i " + Quoted(image));
  EXPECT_EQ(listing.ExitCode, 0) << listing.Output;
  static const std::regex folderLine(R"(^Directory listing of (.*)$)");
  static const std::regex fileLine(R"(^-.*\[\s*(\d+)\s+\d+\]\s+(.*?)(;1)?\s*$)");
  std::map<std::string, std::uint32_t> extents;
  std::istringstream lines(listing.Output);
  std::string folder;
  std::smatch match;
  for (std::string text; std::getline(lines, text);) {
    if (std::regex_match(text, match, folderLine)) folder = match[1];
    if (!std::regex_match(text, match, fileLine)) continue;
    std::string path = folder + match[2].str();
    for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    extents[path] = static_cast<std::uint32_t>(std::stoul(match[1]));
  }
  return extents;
}

std::map<std::string, std::uint32_t> UDFExtents(const fs::path& image) {
  const TUDFVolume volume = ReadUDFVolume(image);
  for (const std::string& error : volume.Errors) ADD_FAILURE() << error;
  std::map<std::string, std::uint32_t> extents;
  for (const auto& [path, node] : volume.Tree) {
    if (!node.Directory && !node.Extents.empty()) extents[std::string(path.begin(), path.end())] = node.Extents[0].Position;
  }
  return extents;
}

void ExpectOneExtentForTheTwins(const std::map<std::string, std::uint32_t>& extents, const std::string& reader) {
  SCOPED_TRACE(reader);
  ASSERT_TRUE(extents.contains(kFirst) && extents.contains(kTwin) && extents.contains(kUnique));
  EXPECT_EQ(extents.at(kFirst), extents.at(kTwin));
  EXPECT_NE(extents.at(kFirst), extents.at(kUnique));
}

TEST(SmartReferenceReaders, TwinsShareOneExtentInEveryTree) {
  if (!HaveTool("xorriso") || !HaveTool("osirrox") || !HaveTool("isoinfo")) {
    GTEST_SKIP() << "xorriso or isoinfo is not installed";
  }
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  PopulateTwins(src);
  const fs::path plain = scratch.path() / "plain.iso";
  const fs::path shared = scratch.path() / "shared.iso";
  const std::uint32_t plainSectors = BuildTwinImage(src, plain, false);
  const std::uint32_t sharedSectors = BuildTwinImage(src, shared, true);
  EXPECT_EQ(plainSectors - sharedSectors, kTwinBytes / 2048);
  EXPECT_EQ(fs::file_size(plain) - fs::file_size(shared), kTwinBytes);

  ExpectOneExtentForTheTwins(XorrisoExtents(shared), "xorriso");
  ExpectOneExtentForTheTwins(IsoinfoExtents(shared, ""), "isoinfo, ISO 9660");
  ExpectOneExtentForTheTwins(IsoinfoExtents(shared, "-J"), "isoinfo, Joliet");
  ExpectOneExtentForTheTwins(UDFExtents(shared), "UDF reader");
  ExpectExtractedTreeIs(shared, src, scratch.path());
}

// Sharing data is not sharing attributes: each twin keeps its own Rock Ridge
// mode and modification time, as osirrox extracts them.
TEST(SmartReferenceReaders, TwinsKeepTheirOwnModesAndTimes) {
  if (!HaveTool("xorriso") || !HaveTool("osirrox")) GTEST_SKIP() << "xorriso is not installed";
  TTempDir scratch;
  const fs::path src = scratch.path() / "src";
  PopulateTwins(src);
  const std::pair<const char*, fs::perms> modes[] = {{kFirst, fs::perms(0640)}, {kTwin, fs::perms(0755)}};
  const auto firstTime = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  fs::permissions(src.string() + kFirst, modes[0].second);
  fs::permissions(src.string() + kTwin, modes[1].second);
  fs::last_write_time(src.string() + kFirst, firstTime);
  fs::last_write_time(src.string() + kTwin, firstTime + std::chrono::hours(24 * 30));
  const fs::path shared = scratch.path() / "shared.iso";
  BuildTwinImage(src, shared, true);
  ExpectOneExtentForTheTwins(XorrisoExtents(shared), "xorriso");

  const fs::path out = scratch.path() / "extracted";
  const TCommandResult extract = RunTool("osirrox -indev " + Quoted(shared) + " -extract / " + Quoted(out));
  ASSERT_EQ(extract.ExitCode, 0) << extract.Output;
  for (const auto& [path, mode] : modes) {
    struct stat recorded {};
    struct stat source {};
    ASSERT_EQ(stat((out.string() + path).c_str(), &recorded), 0) << path;
    ASSERT_EQ(stat((src.string() + path).c_str(), &source), 0) << path;
    EXPECT_EQ(recorded.st_mode & 07777, static_cast<unsigned>(mode)) << path;
    EXPECT_EQ(recorded.st_mtim.tv_sec, source.st_mtim.tv_sec) << path;
  }
}

}  // namespace
}  // namespace kilnor::test
