#include "engine/image/ImageFileSectors.h"

#include <filesystem>

namespace kilnor {

TImageFileSectors::TImageFileSectors(const std::string& Path) {
  const std::filesystem::path path(std::u8string(Path.begin(), Path.end()));
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return;
  const std::uintmax_t bytes = std::filesystem::file_size(path, error);
  if (error) return;
  file_.open(path, std::ios::binary);
  sectors_ = bytes / kSessionSectorBytes;
}

bool TImageFileSectors::ReadSectors(std::uint32_t LBA, std::uint32_t Count, std::span<std::uint8_t> Out) {
  const std::uint64_t bytes = std::uint64_t{Count} * kSessionSectorBytes;
  if (!file_.is_open() || Out.size() < bytes || std::uint64_t{LBA} + Count > sectors_) return false;
  file_.clear();
  file_.seekg(static_cast<std::streamoff>(std::uint64_t{LBA} * kSessionSectorBytes));
  file_.read(reinterpret_cast<char*>(Out.data()), static_cast<std::streamsize>(bytes));
  return static_cast<std::uint64_t>(file_.gcount()) == bytes;
}

}  // namespace kilnor
