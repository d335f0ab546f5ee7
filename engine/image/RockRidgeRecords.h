#pragma once
// The Rock Ridge entries of a recorded directory record (IEEE P1282, RRIP
// 1.12, and 1.09 as older discs carry it): PX, TF, NM, SL, and the RE/CL/PL
// of a relocated directory, gathered over the record's whole system use area
// and its continuations. Malformed entries, and a name or link target whose
// last piece never comes, refuse the record.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "engine/image/SystemUseArea.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

// File types of a POSIX mode (RRIP 4.1.1), portable to builds without <sys/stat.h>.
inline constexpr std::uint32_t kPosixTypeMask = 0170000;
inline constexpr std::uint32_t kPosixDirectory = 0040000;
inline constexpr std::uint32_t kPosixRegular = 0100000;
inline constexpr std::uint32_t kPosixSymbolicLink = 0120000;

// What one record's Rock Ridge entries say.
struct TRockRidgeFields {
  bool Any = false;             // at least one Rock Ridge entry was found
  bool HasMode = false;         // a PX entry set Mode, Links, Uid, Gid (and maybe SerialNumber)
  bool HasName = false;
  bool HasModifyTime = false;
  bool IsLink = false;
  bool Relocated = false;       // RE: the directory's real place is named by a CL elsewhere
  bool Compressed = false;      // ZF: the data is stored compressed, to be read through the entry
  std::optional<std::uint32_t> ChildLink;  // CL: the relocated directory's extent
  TPosixAttributes Posix;       // Names: the NM bytes and the SL path
};

enum class TRockRidgePresence : std::uint8_t { Absent, Present, Malformed, Unreadable };

// Whether the volume whose root directory starts at RootExtent records Rock
// Ridge: the root's "." record opens with SP and names a Rock Ridge extension
// in an ER entry, or carries Rock Ridge entries itself. Skip gets the SP's
// skip length; Malformed, with the reason in Why, when the root's area cannot
// be trusted, and Unreadable when a sector it needs cannot be read.
[[nodiscard]] TRockRidgePresence DetectRockRidge(TSectorSource& Source, std::uint32_t RootExtent,
                                                 std::uint64_t VolumeEnd, std::uint8_t& Skip,
                                                 std::string& Why);

class TRockRidgeReader {
 public:
  // Areas start Skip bytes into each record's system use field.
  TRockRidgeReader(TSectorSource& Source, std::uint64_t VolumeEnd, std::uint8_t Skip);

  // Reads the system use field of a record (its bytes after the identifier
  // and its padding byte). The root's "." record is read with IsRootSelf,
  // whose area starts at its SP entry instead of after the skip.
  [[nodiscard]] bool Read(std::span<const std::uint8_t> SystemUse, bool IsRootSelf,
                          TRockRidgeFields& Fields, std::string& Why);
  // The last Read failed because a continuation sector could not be read.
  [[nodiscard]] bool ReadFailed() const { return areas_.ReadFailed(); }

 private:
  TSystemUseReader areas_;
  std::uint8_t skip_;
};

}  // namespace kilnor
