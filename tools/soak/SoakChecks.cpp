#include "SoakChecks.h"

#include <fstream>
#include <iterator>
#include <map>

#include "engine/KilnorPro.h"

namespace kilnor::soak {

namespace fs = std::filesystem;

void WriteRandomTree(const fs::path& Folder, std::mt19937& Random) {
  fs::create_directories(Folder);
  const int files = std::uniform_int_distribution(1, 6)(Random);
  for (int i = 0; i < files; ++i) {
    const std::size_t size = i == 0 ? 0 : std::uniform_int_distribution<std::size_t>(1, 400000)(Random);
    std::string bytes(size, '\0');
    for (char& byte : bytes) byte = static_cast<char>(Random());
    std::ofstream(Folder / ("file" + std::to_string(i) + ".bin"), std::ios::binary) << bytes;
  }
}

std::string ReadWhole(const fs::path& File) {
  std::ifstream in(File, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::string> EntriesOf(const fs::path& Folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(Folder)) names.push_back(entry.path().filename().string());
  return names;
}

namespace {

std::string ReadAt(std::ifstream& Image, std::int64_t Offset, std::int64_t Size) {
  std::string bytes(static_cast<std::size_t>(Size), '\0');
  Image.seekg(Offset);
  Image.read(bytes.data(), Size);
  if (Image.gcount() != Size) bytes.resize(static_cast<std::size_t>(Image.gcount()));
  Image.clear();
  return bytes;
}

// Name to offset and size of every file of the mounted image.
std::map<fs::path, std::pair<std::int64_t, std::int64_t>> MountedFiles(const TKilnorPro& Reader) {
  std::map<fs::path, std::pair<std::int64_t, std::int64_t>> files;
  for (std::int32_t id = 0; id < static_cast<std::int32_t>(Reader.FilesCount()); ++id)
    if (!Reader.IsDirectory(id)) files[fs::path(Reader.FileName(id))] = {Reader.FileAddress(id), Reader.FileSize(id)};
  return files;
}

}  // namespace

std::string CompareImageWithTree(const fs::path& Image, const fs::path& Source) {
  TKilnorPro reader;
  reader.ClearAll();
  if (!reader.MountISOImage(Image.string())) return "the image does not mount: " + reader.LastImport().Reason;
  auto files = MountedFiles(reader);
  std::ifstream image(Image, std::ios::binary);
  for (const auto& entry : fs::directory_iterator(Source)) {
    const auto found = files.find(entry.path().filename());
    if (found == files.end()) return entry.path().filename().string() + " is missing from the image";
    if (ReadAt(image, found->second.first, found->second.second) != ReadWhole(entry.path()))
      return entry.path().filename().string() + " reads back different";
    files.erase(found);
  }
  if (!files.empty()) return files.begin()->first.string() + " is in the image but not in the source";
  return {};
}

}  // namespace kilnor::soak
