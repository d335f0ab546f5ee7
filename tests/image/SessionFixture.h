#pragma once
// Recorded sessions built byte by byte in memory, for the session reader's
// fault tables: volume descriptors, directory records and sectors that fail
// to read are placed exactly where a case needs them.
#include <array>
#include <cstdint>
#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "engine/image/SectorSource.h"

namespace kilnor::test {

using TSectorBytes = std::array<std::uint8_t, kSessionSectorBytes>;
using TRecordDate = std::array<std::uint8_t, 7>;

// 2020-06-01 12:00:00 at Greenwich.
inline constexpr TRecordDate kSomeDate{120, 6, 1, 12, 0, 0, 0};

// Sectors nobody wrote read as zeros; sectors in Unreadable fail.
class TMemorySectors final : public TSectorSource {
 public:
  explicit TMemorySectors(std::uint64_t limit) : limit_(limit) {}
  bool ReadSectors(std::uint32_t LBA, std::uint32_t Count, std::span<std::uint8_t> Out) override;
  std::uint64_t SectorLimit() const override { return limit_; }

  TSectorBytes& At(std::uint32_t lba) { return sectors_[lba]; }
  std::set<std::uint32_t> Unreadable;

 private:
  std::uint64_t limit_;
  std::map<std::uint32_t, TSectorBytes> sectors_;
};

struct TRecordSpec {
  std::vector<std::uint8_t> Identifier;
  std::uint32_t Extent = 0;
  std::uint32_t Length = 0;
  std::uint8_t Flags = 0;
  TRecordDate Date = kSomeDate;
  std::vector<std::uint8_t> SystemUse = {};  // after the identifier and its padding byte
};

// Identifier bytes: UCS-2 big-endian (Joliet) or 8-bit.
std::vector<std::uint8_t> Ucs2(std::u16string_view name);
std::vector<std::uint8_t> Bytes(std::string_view name);

// Writes a record at Offset of the sector; returns the offset after it.
std::size_t PutRecord(TSectorBytes& sector, std::size_t offset, const TRecordSpec& record);
// "." and ".." of a directory at Extent; returns the offset after them.
std::size_t PutSelfAndParent(TSectorBytes& sector, std::uint32_t extent, std::uint32_t length);

enum class TDescriptorKind { Primary, Joliet, Enhanced };
void PutDescriptor(TSectorBytes& sector, TDescriptorKind kind, std::uint32_t rootExtent,
                   std::uint32_t rootLength, std::uint32_t volumeSectors,
                   const std::vector<std::uint8_t>& label);
void PutTerminator(TSectorBytes& sector);

}  // namespace kilnor::test
