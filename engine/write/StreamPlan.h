#pragma once
// The stream of one write: the ordered list of items whose bytes make up the
// session, from sector 0 to its last sector. The order is the address order
// of the layout; the cache thread streams the list as it is.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/image/ISO9660.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

inline constexpr std::uint32_t kStreamSectorBytes = 2048;
inline constexpr std::uint32_t kPacketBytes = 65536;
static_assert(kPacketBytes == kPacketSectors * kStreamSectorBytes);

constexpr std::uint64_t RoundUpToSector(std::uint64_t Bytes) {
  return (Bytes + kStreamSectorBytes - 1) / kStreamSectorBytes * kStreamSectorBytes;
}
constexpr std::uint64_t SectorsOf(std::uint64_t Bytes) { return RoundUpToSector(Bytes) / kStreamSectorBytes; }

// Fills whole sectors of a generated item on demand; false on failure.
using TSectorGenerator = std::function<bool(std::uint8_t* Buffer, std::uint32_t Sectors)>;
// Writes the closing structure into the session's last sector before the
// final packet is queued.
using TLastSectorFinisher = std::function<void(std::uint8_t* Sector)>;

// One item of the stream. Each starts on a sector boundary and occupies
// ceil(Size / 2,048) sectors; the tail of its last sector is zero.
struct TStreamItem {
  // CompilationFiles is the file data area: the compilation's entries with
  // new data, walked in address order while they stream, so that a file
  // costs the plan nothing and its path is made only when it is opened.
  enum class TSource { Bytes, File, Generator, CompilationFiles };
  TSource Source = TSource::Bytes;
  std::uint64_t Size = 0;
  std::uint64_t Sector = 0;            // session-relative start the layout gave it
  std::vector<std::uint8_t> Bytes;     // Bytes: owned, freed once streamed
  std::string Path;                    // File: path in the file system's bytes
  std::u16string Name;                 // what an error about this item names
  std::int32_t FileId = -1;
  TSectorGenerator Generate;           // Generator
};

// The whole stream of one write, in address order.
struct TStreamPlan {
  std::vector<TStreamItem> Items;
  std::uint64_t TotalSectors = 0;      // the session; zero padding follows the items
  TLastSectorFinisher FinishLastSector;
};

// Checks that the items follow each other without gap or overlap from sector
// 0 and fit the session; a plan that fails this must not be streamed.
[[nodiscard]] bool StreamPlanIsConsistent(const TStreamPlan& Plan);

// The stream of the prepared compilation after GenerateHeader: the header
// (generated as it streams), the boot image, the UDF file structures, then
// the file data area (every entry with new data, the layout's own rule), in
// address order; with UDF the closing anchor goes into the last sector. The
// compilation must not change until the stream has ended. False, with the
// error recorded, when an entry cannot be streamed or the plan does not match
// the layout.
[[nodiscard]] bool PlanSessionStream(TCDFiles& CDFiles, TStreamPlan& Plan);

}  // namespace kilnor
