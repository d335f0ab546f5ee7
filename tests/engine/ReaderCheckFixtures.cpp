#include "ReaderCheckFixtures.h"

#include <fstream>
#include <iterator>
#include <regex>

#include "ReaderTools.h"
#include "engine/image/Tree.h"

namespace kilnor::test {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string Pattern(std::size_t bytes, unsigned seed) {
  std::string text(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) text[i] = static_cast<char>((i * 131 + seed * 7919) % 251);
  return text;
}

// ---- Fixture trees --------------------------------------------------------

void NestedEightDeep(const fs::path& src) {
  fs::path dir = src;
  for (int level = 1; level <= 8; ++level) {
    dir /= "level" + std::to_string(level);
    WriteFile(dir / ("at-" + std::to_string(level) + ".txt"), Pattern(100 * level, level));
  }
}

namespace {

void ThousandFiles(const fs::path& src) {
  for (int i = 0; i < 1000; ++i) WriteFile(src / "many" / ("file-" + std::to_string(i) + ".dat"), Pattern(i * 7, i));
}

void EmptyFiles(const fs::path& src) {
  WriteFile(src / "empty.txt", "");
  WriteFile(src / "no extension", "");
  WriteFile(src / "one byte", "x");
  WriteFile(src / "sector.bin", Pattern(2048, 3));
  fs::create_directories(src / "hollow");
}

void EmptyCompilation(const fs::path& src) { fs::create_directories(src); }

void UnicodeNames(const fs::path& src) {
  WriteFile(src / "Grüße.txt", "gruss");
  WriteFile(src / "日本語のファイル名.txt", Pattern(5000, 1));
  WriteFile(src / "Ünïcödé" / "inside.txt", "inside");
}

void NonBmpNames(const fs::path& src) {
  WriteFile(src / "smile 😀 𝄞.txt", "non-BMP");
  WriteFile(src / "folder 📁" / "inside.txt", "inside");
}

void CollidingNames(const fs::path& src) {
  WriteFile(src / "My long document A.txt", "A");
  WriteFile(src / "My long document B.txt", "B");
  WriteFile(src / "My long document C.txt", "C");
  WriteFile(src / "Directory number 1" / "one.txt", "1");
  WriteFile(src / "Directory number 2" / "two.txt", "2");
  WriteFile(src / "semi;colon.txt", "semicolon");
}

// Sizes around a sector and over a block of directory records.
void LargeAndOddSizes(const fs::path& src) {
  WriteFile(src / "70000.bin", Pattern(70000, 9));
  WriteFile(src / "2047.bin", Pattern(2047, 10));
  WriteFile(src / "2049.bin", Pattern(2049, 11));
  WriteFile(src / "sub" / "a-name-of-some-length-to-fill-directory-blocks.bin", Pattern(3, 12));
}

}  // namespace

const std::vector<TTreeCase>& FixtureTrees() {
  static const std::vector<TTreeCase> trees{
      {"NestedEightDeep", NestedEightDeep},
      {"ThousandFilesInOneFolder", ThousandFiles},
      {"EmptyFiles", EmptyFiles},
      {"EmptyCompilation", EmptyCompilation},
      {"UnicodeNames", UnicodeNames},
      {"NonBmpNames", NonBmpNames, true},
      {"NamesThatCollideWhenShortened", CollidingNames},
      {"LargeAndOddSizes", LargeAndOddSizes},
  };
  return trees;
}

// ---- Building -------------------------------------------------------------

TWriteWaiter::TWriteWaiter(TKilnorPro& kp) {
  kp.SetOnWriteDone([this](void*, std::uint8_t, bool failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    failed_ = failed;
    done_ = true;
    cv_.notify_all();
  });
}

bool TWriteWaiter::Succeeded() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return done_; });
  return !failed_;
}

::testing::AssertionResult BuildImage(TKilnorPro& kp, const fs::path& src, const fs::path& image, const char* label) {
  kp.ClearAll();
  kp.SetVolumeID(label);
  if (kp.InsertDirW(u"\\", src.u16string(), u"*", true, false) == nullptr)
    return ::testing::AssertionFailure() << "insert failed: " << LastTreeError(kp.CDFiles);
  if (kp.Prepare() == 0) return ::testing::AssertionFailure() << kp.CDFiles.UDFBridgeInfo.LayoutError;
  TWriteWaiter waiter(kp);
  if (!kp.BuildISOImageW(image.u16string())) return ::testing::AssertionFailure() << kp.ErrorString();
  if (!waiter.Succeeded()) return ::testing::AssertionFailure() << "write failed: " << kp.ErrorString();
  return ::testing::AssertionSuccess();
}

// ---- Reading back ----------------------------------------------------------

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> items;
  if (!fs::exists(root)) return items;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string relative = fs::relative(item.path(), root).string();
    if (item.is_directory()) {
      items[relative] = "/";
    } else {
      std::ifstream in(item.path(), std::ios::binary);
      items[relative] = std::string(std::istreambuf_iterator<char>(in), {});
    }
  }
  return items;
}

void ExpectExtractedTreeIs(const fs::path& image, const fs::path& src, const fs::path& scratch,
                           std::uint32_t session) {
  const fs::path out = scratch / "extracted";
  fs::remove_all(out);
  const TCommandResult extract = RunTool("osirrox -load sbsector " + std::to_string(session) + " -indev " +
                                         Quoted(image) + " -extract / " + Quoted(out));
  static_cast<void>(RunTool("chmod -R u+w " + Quoted(out)));
  ASSERT_EQ(extract.ExitCode, 0) << extract.Output;
  EXPECT_EQ(Snapshot(out), Snapshot(src));
}

std::string XorrisoComplaints(const std::string& output, bool nonBmp) {
  static const std::regex complaint("(FAILURE|SORRY|WARNING).*");
  static const std::regex aboutPairs(".*(valid only with character set UTF-16|not suitable for Joliet character set UCS-2).*");
  std::string found;
  for (auto it = std::sregex_iterator(output.begin(), output.end(), complaint); it != std::sregex_iterator(); ++it)
    if (!nonBmp || !std::regex_match(it->str(), aboutPairs)) found += it->str() + "\n";
  return found;
}

void ExpectToolsOpenIt(const fs::path& image, const std::string& volumeId, bool nonBmp) {
  const TCommandResult list = RunTool("xorriso -indev " + Quoted(image) + " -find / -exec lsdl");
  EXPECT_EQ(list.ExitCode, 0) << list.Output;
  EXPECT_EQ(XorrisoComplaints(list.Output, nonBmp), "") << list.Output;
  const TCommandResult media = RunTool("xorriso -indev " + Quoted(image) + " -check_media --");
  const std::regex region("Media region : .*");
  int regions = 0;
  for (auto it = std::sregex_iterator(media.Output.begin(), media.Output.end(), region); it != std::sregex_iterator();
       ++it, ++regions)
    EXPECT_NE(it->str().find("+ good"), std::string::npos) << media.Output;
  EXPECT_GT(regions, 0) << media.Output;
  if (HaveTool("isoinfo")) {
    const TCommandResult d = RunTool("isoinfo -d -i " + Quoted(image));
    EXPECT_NE(d.Output.find("Volume id: " + volumeId + "\n"), std::string::npos) << d.Output;
    EXPECT_NE(d.Output.find("Joliet with UCS level 1 found"), std::string::npos) << d.Output;
    EXPECT_EQ(RunTool("isoinfo -l -i " + Quoted(image)).ExitCode, 0);
    EXPECT_EQ(RunTool("isoinfo -J -l -i " + Quoted(image)).ExitCode, 0);
  }
  if (HaveTool("iso-info") && !nonBmp) {
    const TCommandResult info = RunTool("iso-info --no-header -f -i " + Quoted(image));
    EXPECT_EQ(info.ExitCode, 0) << info.Output;
    EXPECT_EQ(info.Output.find("arning"), std::string::npos) << info.Output;
    EXPECT_EQ(info.Output.find("rror"), std::string::npos) << info.Output;
  }
  if (HaveTool("7z")) {
    const TCommandResult seven = RunTool("7z l " + Quoted(image));
    EXPECT_EQ(seven.ExitCode, 0) << seven.Output;
    EXPECT_EQ(seven.Output.find("Warnings"), std::string::npos) << seven.Output;
    EXPECT_EQ(seven.Output.find("ERROR"), std::string::npos) << seven.Output;
  }
}

}  // namespace kilnor::test
