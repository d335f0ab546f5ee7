#pragma once
// The sectors of an ISO image file, read as 2,048-byte blocks from its start.
#include <fstream>
#include <string>

#include "engine/image/SectorSource.h"

namespace kilnor {

class TImageFileSectors final : public TSectorSource {
 public:
  // Opens Path (UTF-8) for reading; IsOpen tells whether that worked.
  explicit TImageFileSectors(const std::string& Path);

  [[nodiscard]] bool IsOpen() const { return file_.is_open(); }
  [[nodiscard]] bool ReadSectors(std::uint32_t LBA, std::uint32_t Count,
                                 std::span<std::uint8_t> Out) override;
  // Whole sectors of the file; a trailing part sector cannot be read.
  [[nodiscard]] std::uint64_t SectorLimit() const override { return sectors_; }

 private:
  std::ifstream file_;
  std::uint64_t sectors_ = 0;
};

}  // namespace kilnor
