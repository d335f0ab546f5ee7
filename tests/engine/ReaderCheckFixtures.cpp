#include "ReaderCheckFixtures.h"

#include <fstream>
#include <iterator>

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

}  // namespace kilnor::test
