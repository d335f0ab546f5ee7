#pragma once
// Reading one directory record of a recorded session (ECMA-119 9.1) out of
// untrusted bytes: every field is taken only from inside the record, and the
// record only from inside its sector.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engine/image/VolumeScan.h"
#include "engine/platform/FindData.h"

namespace kilnor {

inline constexpr std::size_t kMinRecordBytes = 34;
inline constexpr std::uint8_t kRecordFlagHidden = 0x01;
inline constexpr std::uint8_t kRecordFlagDirectory = 0x02;
inline constexpr std::uint8_t kRecordFlagAssociated = 0x04;
inline constexpr std::uint8_t kRecordFlagMultiExtent = 0x80;

struct TDirectoryRecord {
  std::uint8_t Length = 0;
  std::uint32_t Extent = 0;
  std::uint32_t DataLength = 0;
  std::span<const std::uint8_t> Date;        // 7 bytes, ECMA-119 9.1.5
  std::uint8_t Flags = 0;
  std::span<const std::uint8_t> Identifier;  // LEN_FI bytes
  std::span<const std::uint8_t> SystemUse;   // after the identifier and its padding byte
};

enum class TRecordRead : std::uint8_t { Record, EndOfSector, Malformed };

// The record at Offset of Sector. EndOfSector when no record starts there
// (a zero length byte, or too few bytes left for one); Malformed, with the
// reason in Why, when its length is below 34, its identifier passes its
// end, or it passes the end of the sector.
[[nodiscard]] TRecordRead ReadDirectoryRecord(std::span<const std::uint8_t> Sector,
                                              std::size_t Offset, TDirectoryRecord& Record,
                                              std::string& Why);

// Recorded text in the tree's encoding, without any suffix removed.
[[nodiscard]] std::u16string DecodeText(std::span<const std::uint8_t> Bytes, TNameEncoding Names);

// The name of a record: its identifier decoded, with a trailing version
// suffix (";" and digits) removed; in the primary tree a dot left at the end
// by the suffix goes too. Only a real ";" counts, never a UCS-2 unit whose
// low byte happens to be 3Bh.
[[nodiscard]] std::u16string DecodeIdentifier(std::span<const std::uint8_t> Identifier,
                                              TVolumeKind Kind, TNameEncoding Names);

// The instant a record's date names, its offset from Greenwich applied;
// nullopt for a date that is unspecified or not a real date.
[[nodiscard]] std::optional<TFileTime> RecordedInstant(std::span<const std::uint8_t> Date);

// A recorded calendar date and its offset from Greenwich in 15-minute units,
// as both date forms of ECMA-119 (9.1.5 and 8.4.26.1) hold it.
struct TRecordedCalendar {
  int Year = 0;
  int Month = 0;
  int Day = 0;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int OffsetQuarters = 0;
};
// Its instant; nullopt when it is not a real date.
[[nodiscard]] std::optional<TFileTime> InstantOf(const TRecordedCalendar& Calendar);

// The little-endian half of a both-endian field at At (ECMA-119 7.3.3).
[[nodiscard]] inline std::uint32_t LittleEndian32(std::span<const std::uint8_t> Bytes, std::size_t At) {
  return std::uint32_t{Bytes[At]} | std::uint32_t{Bytes[At + 1]} << 8 | std::uint32_t{Bytes[At + 2]} << 16 |
         std::uint32_t{Bytes[At + 3]} << 24;
}

// Whether Length bytes from sector Extent end at or before sector End.
[[nodiscard]] bool ExtentInside(std::uint32_t Extent, std::uint64_t Length, std::uint64_t End);

// Sectors that Length bytes take.
[[nodiscard]] constexpr std::uint64_t SectorsOf(std::uint64_t Length) {
  return (Length + kSessionSectorBytes - 1) / kSessionSectorBytes;
}

}  // namespace kilnor
