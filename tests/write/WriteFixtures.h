#pragma once
// Small fixtures for the write pipeline: a scratch folder, source files with
// known bytes, and stream plans assembled by hand the way the layout would.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/image/ISO9660.h"
#include "engine/write/StreamPlan.h"

namespace kilnor::testing {

class TScratchDir {
 public:
  TScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmor-write-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TScratchDir() { std::filesystem::remove_all(path_); }
  [[nodiscard]] std::string File(const std::string& name) const { return (path_ / name).string(); }
  [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Bytes that differ from packet to packet, so a misplaced piece shows.
inline std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 4093);
  return bytes;
}

inline void WriteFileBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Builds a plan item by item, each at the next free sector, and the image the
// stream must produce.
class TPlanBuilder {
 public:
  TPlanBuilder& Bytes(std::vector<std::uint8_t> bytes) {
    TStreamItem item;
    item.Source = TStreamItem::TSource::Bytes;
    item.Size = bytes.size();
    Expect(bytes);
    item.Bytes = std::move(bytes);
    return Add(std::move(item));
  }
  // A source file whose recorded size is `recordedSize` (the file on disk
  // holds `bytes`, which may differ to model a file changed after Prepare).
  TPlanBuilder& File(const std::string& path, const std::vector<std::uint8_t>& bytes, std::int32_t fileId,
                     std::uint64_t recordedSize) {
    WriteFileBytes(path, bytes);
    TStreamItem item;
    item.Source = TStreamItem::TSource::File;
    item.Size = recordedSize;
    item.Path = path;
    item.Name = std::u16string(path.begin(), path.end());
    item.FileId = fileId;
    Expect(bytes);
    return Add(std::move(item));
  }
  TPlanBuilder& File(const std::string& path, const std::vector<std::uint8_t>& bytes, std::int32_t fileId) {
    return File(path, bytes, fileId, bytes.size());
  }
  // The compilation's file data area: its entries with new data, placed one
  // after the other as Prepare places them; `contents` holds, in that order,
  // the bytes each entry's source gives.
  TPlanBuilder& CompilationFiles(TCDFiles& cd, const std::vector<std::vector<std::uint8_t>>& contents) {
    cd.FirstDataSector = static_cast<std::uint32_t>(sector_);
    std::uint64_t address = 0;
    std::size_t next = 0;
    for (const auto& entry : cd.Files) {
      if (!HasNewData(*entry)) continue;
      entry->Address = static_cast<std::uint32_t>(address);
      expected_.emplace_back(sector_ + address, contents.at(next++));
      address += SectorsOf(static_cast<std::uint64_t>(entry->FileSize));
    }
    TStreamItem item;
    item.Source = TStreamItem::TSource::CompilationFiles;
    item.Size = address * 2048;
    return Add(std::move(item));
  }

  // Rounds the session up to whole packets, as the layout does.
  [[nodiscard]] TStreamPlan Finish() {
    plan_.TotalSectors = (sector_ + 31) / 32 * 32;
    totalSectors_ = plan_.TotalSectors;
    return std::move(plan_);
  }
  // The image the stream must produce: every item at its sector, zeros between.
  [[nodiscard]] std::vector<std::uint8_t> Image() const {
    std::vector<std::uint8_t> image(totalSectors_ * 2048, 0);
    for (const auto& [sector, bytes] : expected_) std::copy(bytes.begin(), bytes.end(), image.begin() + sector * 2048);
    return image;
  }

 private:
  TPlanBuilder& Add(TStreamItem item) {
    item.Sector = sector_;
    sector_ += SectorsOf(item.Size);
    plan_.Items.push_back(std::move(item));
    return *this;
  }
  void Expect(const std::vector<std::uint8_t>& bytes) { expected_.emplace_back(sector_, bytes); }

  TStreamPlan plan_;
  std::uint64_t sector_ = 0;
  std::uint64_t totalSectors_ = 0;
  std::vector<std::pair<std::uint64_t, std::vector<std::uint8_t>>> expected_;
};

}  // namespace kilnor::testing
