#pragma once
// The layout of one session (ISO 9660, Joliet, ISO 9660:1999, El Torito) in
// two phases: Prepare counts sectors and assigns every address, relative to
// the start of the session; the header (every sector of the session before
// the boot image and the data: system area, descriptors, path tables,
// directories, boot catalog, padding) is then written. GenerateHeader writes
// what is known up front; the path tables, directories and boot catalog are
// generated while the session streams, one directory at a time, so that a
// large tree is never held as one buffer.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/image/TreeTypes.h"

namespace kilnor {

// Sector where data may start at the earliest; the header is padded up to it.
inline constexpr std::uint32_t kFirstDataSector = 150;
// Sessions are a whole number of 64 KiB packets.
inline constexpr std::uint32_t kPacketSectors = 32;

// Lays out the session. Returns its size in sectors before the rounding to
// whole packets (FirstDataSector + FilesSize, plus the closing UDF anchor);
// 0 without a root, when the session would be larger than its 32-bit fields
// can describe or while a write runs (the reason is in PrepareError), or when
// the UDF bridge is refused (the reason is in UDFBridgeInfo.LayoutError).
std::uint32_t Prepare(TCDFiles& cd);

// Writes the up-front part of the prepared layout's header (system area,
// volume descriptors, UDF volume structures: UpFrontSectors sectors) into
// cd.isom and sets IsoHeaderSize to the bytes of the whole header
// (HeaderSectors sectors). False, and nothing written, when the layout is not
// current.
[[nodiscard]] bool GenerateHeader(TCDFiles& cd);

// Produces the header's sectors in order, a few per call: the up-front part
// GenerateHeader kept when there is one, then the rest generated piece by
// piece. The compilation must stay unchanged while a generator runs; the
// cache thread owns one generator for one write.
class THeaderGenerator {
 public:
  explicit THeaderGenerator(const TCDFiles& cd);

  // Fills `sectors` (whole sectors) with the next sectors of the header.
  // False for a request past its end, a layout that is no longer current or
  // a structure that does not fit the room Prepare gave it.
  [[nodiscard]] bool Generate(std::span<std::uint8_t> sectors);

 private:
  [[nodiscard]] bool NextPiece();
  [[nodiscard]] bool TakeUpFrontSectors();
  void NextArea();

  const TCDFiles& cd_;
  std::size_t area_ = 0;             // area of the session being written
  std::uint32_t sector_ = 0;         // session sector where that area starts
  std::size_t pieceNumber_ = 0;      // next piece of the area
  std::uint64_t areaWritten_ = 0;    // bytes of the area its pieces gave so far
  std::vector<std::uint8_t> piece_;  // the piece being handed out
  std::size_t pieceOffset_ = 0;
};

// The whole header of the prepared layout at once (HeaderSectors sectors),
// for a reader that wants it in one piece; empty when it cannot be written.
[[nodiscard]] std::vector<std::uint8_t> WholeHeader(const TCDFiles& cd);

// Whether the entry's data is new, i.e. is laid out in the file data area
// and must be streamed there: a file (not a directory's entry) of one byte or
// more that is neither imported from an earlier session nor sharing a twin's
// recorded data. The layout and the stream use this one rule.
[[nodiscard]] bool HasNewData(const TFileEntry& entry);

// Whether the entry records an empty file read from a source file (not a
// link, a memory file or an imported or shared entry), which the stream
// still checks is empty.
[[nodiscard]] bool IsEmptySourceFile(const TFileEntry& entry);

// The layout-affecting switches as they are now.
[[nodiscard]] TLayoutSwitches CurrentSwitches(const TCDFiles& cd);

// Prepared, and nothing the layout depends on changed since.
[[nodiscard]] bool LayoutIsCurrent(const TCDFiles& cd);

}  // namespace kilnor
