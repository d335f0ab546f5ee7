#pragma once
// Where the sectors of a recorded session come from when it is read back: an
// image file or a drive. The session reader knows nothing else about them, so
// the same reader serves session import, image mounting and label reading,
// and runs on plain byte buffers in tests.
#include <cstdint>
#include <span>

namespace kilnor {

inline constexpr std::uint32_t kSessionSectorBytes = 2048;

class TSectorSource {
 public:
  virtual ~TSectorSource() = default;
  // Reads Count sectors from LBA into Out (Count * 2048 bytes). False when
  // any of them cannot be read; Out's contents are then unspecified.
  [[nodiscard]] virtual bool ReadSectors(std::uint32_t LBA, std::uint32_t Count,
                                         std::span<std::uint8_t> Out) = 0;
  // Sectors that can exist at all: an image file's whole sectors; a drive
  // answers for every address it has.
  [[nodiscard]] virtual std::uint64_t SectorLimit() const = 0;
};

}  // namespace kilnor
