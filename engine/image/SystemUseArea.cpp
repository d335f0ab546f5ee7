#include "engine/image/SystemUseArea.h"

#include <algorithm>

#include "engine/image/DirectoryRecords.h"

namespace kilnor {
namespace {

constexpr std::size_t kLengthOffset = 2;
constexpr std::size_t kVersionOffset = 3;
// SP (SUSP 5.3): "SP", 7, 1, BEh, EFh, skip length.
constexpr std::size_t kSharingProtocolBytes = 7;
// CE (SUSP 5.1): three both-endian fields after the header.
constexpr std::size_t kContinuationBytes = 28;
constexpr std::size_t kContinuationSectorOffset = 4;
constexpr std::size_t kContinuationOffsetOffset = 12;
constexpr std::size_t kContinuationLengthOffset = 20;

}  // namespace

std::optional<TSharingProtocol> SharingProtocolOf(std::span<const std::uint8_t> Area) {
  if (Area.size() < kSharingProtocolBytes || Area[0] != 'S' || Area[1] != 'P' ||
      Area[kLengthOffset] < kSharingProtocolBytes || Area[4] != 0xBE || Area[5] != 0xEF) {
    return std::nullopt;
  }
  return TSharingProtocol{Area[6]};
}

TSystemUseReader::TSystemUseReader(TSectorSource& Source, std::uint64_t VolumeEnd)
    : source_(Source), volumeEnd_(VolumeEnd), sector_(kSessionSectorBytes) {}

bool TSystemUseReader::Walk(std::span<const std::uint8_t> Area, const TSystemUseVisitor& Visit,
                            std::string& Why) {
  visited_.clear();
  readFailed_ = false;
  std::span<const std::uint8_t> area = Area;
  for (;;) {
    std::optional<TContinuation> next;
    if (!WalkOneArea(area, Visit, next, Why)) return false;
    if (!next) return true;
    if (!ReadContinuation(*next, area, Why)) return false;
  }
}

bool TSystemUseReader::WalkOneArea(std::span<const std::uint8_t> area, const TSystemUseVisitor& visit,
                                   std::optional<TContinuation>& next, std::string& why) {
  // Fewer bytes than a header left over are padding.
  for (std::size_t offset = 0; area.size() - offset >= kSystemUseHeaderBytes;) {
    const std::size_t length = area[offset + kLengthOffset];
    if (length < kSystemUseHeaderBytes) {
      why = "a system use entry of " + std::to_string(length) + " bytes, fewer than 4";
      return false;
    }
    if (length > area.size() - offset) {
      why = "a system use entry of " + std::to_string(length) + " bytes passes the end of its area";
      return false;
    }
    const std::span<const std::uint8_t> bytes = area.subspan(offset, length);
    TSystemUseEntry entry;
    entry.Signature[0] = static_cast<char>(bytes[0]);
    entry.Signature[1] = static_cast<char>(bytes[1]);
    entry.Version = bytes[kVersionOffset];
    entry.Data = bytes.subspan(kSystemUseHeaderBytes);
    if (entry.Is("ST")) return true;
    if (entry.Is("CE")) {
      if (length < kContinuationBytes) {
        why = "a CE entry of " + std::to_string(length) + " bytes, fewer than 28";
        return false;
      }
      if (next) {
        why = "two CE entries in one system use area";
        return false;
      }
      next = TContinuation{LittleEndian32(bytes, kContinuationSectorOffset),
                           LittleEndian32(bytes, kContinuationOffsetOffset),
                           LittleEndian32(bytes, kContinuationLengthOffset)};
    } else if (!visit(entry, why)) {
      return false;
    }
    offset += length;
  }
  return true;
}

bool TSystemUseReader::ReadContinuation(const TContinuation& at, std::span<const std::uint8_t>& area,
                                        std::string& why) {
  const std::string place = "a continuation area at sector " + std::to_string(at.Sector) + " offset " +
                            std::to_string(at.Offset);
  if (visited_.size() >= kMaxContinuationAreas) {
    why = "a record chains more than " + std::to_string(kMaxContinuationAreas) + " continuation areas";
    return false;
  }
  if (at.Sector >= volumeEnd_) {
    why = place + " lies outside the volume of " + std::to_string(volumeEnd_) + " sectors";
    return false;
  }
  if (at.Offset >= kSessionSectorBytes || at.Length > kSessionSectorBytes - at.Offset) {
    why = place + " of " + std::to_string(at.Length) + " bytes passes the end of its sector";
    return false;
  }
  const std::pair placeKey{at.Sector, at.Offset};
  if (std::find(visited_.begin(), visited_.end(), placeKey) != visited_.end()) {
    why = place + " leads back to one already read: a loop of continuation areas";
    return false;
  }
  visited_.push_back(placeKey);
  if (cachedSector_ != at.Sector) {
    cachedSector_ = UINT64_MAX;
    if (!source_.ReadSectors(at.Sector, 1, sector_)) {
      why = "cannot read " + place;
      readFailed_ = true;
      return false;
    }
    cachedSector_ = at.Sector;
  }
  area = std::span<const std::uint8_t>(sector_).subspan(at.Offset, at.Length);
  return true;
}

}  // namespace kilnor
