#pragma once
// Directory records (ECMA-119 9.1) of the ISO 9660 tree and of the Joliet
// tree, and the extents they are packed into. A record never crosses a
// sector boundary; each extent starts with the "." and ".." records.
// A file of 4 GiB or more is recorded as several records of one name
// (ISO 9660 level 3 multi-extent), each extent a whole number of sectors.
#include <cstdint>

#include "engine/image/ByteWriter.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

inline constexpr std::uint32_t kSectorSize = 2048;
inline constexpr std::uint8_t kRootRecordBytes = 34;
// The largest extent that is a whole number of sectors and whose length
// fits the 32-bit data-length field.
inline constexpr std::uint64_t kMaxExtentBytes = 0xFFFFF800u;

enum class TTree { ISO, Joliet };

// Records an entry takes: one per extent of its data.
[[nodiscard]] std::uint32_t ExtentCount(std::int64_t fileSize);

// What a directory takes of its tree's directory area: its extent and the
// sectors of its records' continuation areas after it.
struct TDirectorySize {
  std::uint32_t ExtentBytes = 0;  // a multiple of the sector size
  std::uint32_t ContinuationSectors = 0;
  bool FieldsLost = false;        // some record had no room for all its Rock Ridge fields
};
[[nodiscard]] TDirectorySize MeasureDirectory(const TCDFiles& cd, const TDirEntry& dir, TTree tree);

// Sector of a directory's extent as written (session start included).
[[nodiscard]] std::uint32_t DirectorySector(const TCDFiles& cd, const TDirEntry& dir, TTree tree);

// The entry whose recorded data an entry uses: itself, or the end of its
// chain of twins.
[[nodiscard]] const TFileEntry& DataOwner(const TFileEntry& entry);

// The root record of a volume descriptor.
void PutRootRecord(TByteWriter& out, const TCDFiles& cd, TTree tree);

// The whole extent of one directory; `out` spans exactly its bytes and its
// continuation sectors.
void WriteDirectoryExtent(TByteWriter& out, const TCDFiles& cd, const TDirEntry& dir, TTree tree);

}  // namespace kilnor
