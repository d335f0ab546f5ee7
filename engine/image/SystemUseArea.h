#pragma once
// The system use area of a recorded directory record (IEEE P1281, SUSP 1.12)
// read out of untrusted bytes: its entries one by one, each length checked
// against the bytes that hold it, and its continuation areas (CE) followed
// inside the volume only, each place at most once a record, and no more than
// kMaxContinuationAreas of them.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "engine/image/SectorSource.h"

namespace kilnor {

// Continuation areas one record may chain; real records need one or two.
inline constexpr std::size_t kMaxContinuationAreas = 64;
inline constexpr std::size_t kSystemUseHeaderBytes = 4;

// One entry (SUSP 4.1): signature, version and its data after the 4-byte
// header.
struct TSystemUseEntry {
  char Signature[2] = {};
  std::uint8_t Version = 0;
  std::span<const std::uint8_t> Data;
  [[nodiscard]] bool Is(const char (&signature)[3]) const {
    return Signature[0] == signature[0] && Signature[1] == signature[1];
  }
};

// What a caller does with each entry: false, with the reason in Why, refuses
// the whole area.
using TSystemUseVisitor = std::function<bool(const TSystemUseEntry& Entry, std::string& Why)>;

// The SP entry that opens the root's "." record (SUSP 5.3): the area uses
// the protocol, and every other record's area starts Skip bytes in.
struct TSharingProtocol {
  std::uint8_t Skip = 0;
};
[[nodiscard]] std::optional<TSharingProtocol> SharingProtocolOf(std::span<const std::uint8_t> Area);

class TSystemUseReader {
 public:
  // Continuation areas are read from Source and must lie before sector VolumeEnd.
  TSystemUseReader(TSectorSource& Source, std::uint64_t VolumeEnd);

  // Visits every entry of Area and of the continuation areas it chains, up to
  // an ST entry or the end of each area; CE entries themselves are not
  // visited. False, with the reason in Why, when an entry or a continuation
  // cannot be trusted or the visitor refuses one.
  [[nodiscard]] bool Walk(std::span<const std::uint8_t> Area, const TSystemUseVisitor& Visit, std::string& Why);
  // The last Walk failed because a continuation sector could not be read.
  [[nodiscard]] bool ReadFailed() const { return readFailed_; }

 private:
  struct TContinuation {
    std::uint32_t Sector = 0;
    std::uint32_t Offset = 0;
    std::uint32_t Length = 0;
  };

  [[nodiscard]] bool WalkOneArea(std::span<const std::uint8_t> area, const TSystemUseVisitor& visit,
                                 std::optional<TContinuation>& next, std::string& why);
  [[nodiscard]] bool ReadContinuation(const TContinuation& at, std::span<const std::uint8_t>& area,
                                      std::string& why);

  TSectorSource& source_;
  std::uint64_t volumeEnd_;
  std::vector<std::uint8_t> sector_;
  std::uint64_t cachedSector_ = UINT64_MAX;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> visited_;
  bool readFailed_ = false;
};

}  // namespace kilnor
