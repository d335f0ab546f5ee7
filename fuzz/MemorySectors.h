#pragma once
// The sectors of an image held in memory, read the way an image file is
// read: whole sectors only, nothing past the last one.
#include <cstdint>
#include <cstring>
#include <span>

#include "engine/image/SectorSource.h"

namespace kilnor::fuzz {

class TMemorySectors final : public TSectorSource {
 public:
  explicit TMemorySectors(std::span<const std::uint8_t> Bytes) : bytes_(Bytes) {}

  bool ReadSectors(std::uint32_t LBA, std::uint32_t Count, std::span<std::uint8_t> Out) override {
    const std::uint64_t length = std::uint64_t{Count} * kSessionSectorBytes;
    if (std::uint64_t{LBA} + Count > SectorLimit() || Out.size() < length) return false;
    std::memcpy(Out.data(), bytes_.data() + std::uint64_t{LBA} * kSessionSectorBytes, length);
    return true;
  }
  std::uint64_t SectorLimit() const override { return bytes_.size() / kSessionSectorBytes; }

 private:
  std::span<const std::uint8_t> bytes_;
};

}  // namespace kilnor::fuzz
