#pragma once
// Rock Ridge (RRIP 1.12 carried by SUSP 1.12) in the System Use field of the
// ISO 9660 tree's directory records: the POSIX name (NM), mode, links,
// owners and serial number (PX), modification, access and attribute-change
// times (TF) and symbolic links (SL) of every record; SP and ER open the
// root's "." record. Fields that do not fit a record go to continuation
// areas (CE) kept in sectors right after the directory's extent, each area
// within one sector.
//
// Directories deeper than eight levels are recorded where they are, not
// relocated: the readers of these discs (the Linux kernel, xorriso, isoinfo)
// read them so, and relocation would give them two paths.
//
// Times are recorded in the seven-byte form, to the second: the long form
// keeps only hundredths and some kernels read only the short one.
#include <cstdint>
#include <vector>

#include "engine/image/ByteWriter.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

// POSIX file types and permission bits as st_mode holds them.
inline constexpr std::uint32_t kPosixTypeMask = 0170000;
inline constexpr std::uint32_t kPosixDirectory = 0040000;
inline constexpr std::uint32_t kPosixRegular = 0100000;
inline constexpr std::uint32_t kPosixLink = 0120000;

// The System Use fields of the records of one directory's extent, staged
// record by record in the order the records are laid out: Stage sizes a
// record's fields and places its continuation areas, Put writes them. The
// layout's reserve phase only stages; the emit phase stages and puts, so
// both place every area alike.
// Whether staging writes the fields' contents, or only lays out their sizes
// (the attributes and times, whose sizes are fixed, are then left zero): a
// directory is measured by staging its records, which need no contents.
enum class TStaging : std::uint8_t { Contents, SizesOnly };

class TSystemUse {
 public:
  TSystemUse(const TCDFiles& cd, const TDirEntry& dir, TStaging contents = TStaging::Contents);

  // Stages the fields of the "." record (the directory's own attributes) or
  // the ".." record (its parent's), or of an entry's record, given the bytes
  // the record has room for after its identifier. Returns the bytes the
  // fields take in the record, an even number.
  std::uint32_t StageSelf(std::uint32_t room);
  std::uint32_t StageParent(std::uint32_t room);
  std::uint32_t StageEntry(const TFileEntry& entry, std::uint32_t room);

  // Writes the staged record's fields at the cursor of `record`, and its
  // continuation areas into `continuation`, which spans the continuation
  // sectors that start at sector `firstContinuationSector`.
  void Put(TByteWriter& record, TByteWriter& continuation, std::uint32_t firstContinuationSector) const;

  // Sectors the continuation areas staged so far take.
  [[nodiscard]] std::uint32_t ContinuationSectors() const { return continuationSectors_; }
  // Some record had too little room for its fields even with a continuation
  // area (only a long ISO 9660:1999 identifier leaves so little).
  [[nodiscard]] bool FieldsLost() const { return fieldsLost_; }

 private:
  struct TPiece {
    std::size_t FirstField = 0;
    std::size_t EndField = 0;
    std::uint32_t Bytes = 0;   // fields plus the CE that leads on
    std::uint32_t Offset = 0;  // within the continuation sectors; unused for the record's own piece
  };

  struct TSubject;
  std::uint32_t StageDirectory(const TDirEntry& dir, bool withVolumeFields, std::uint32_t room);
  std::uint32_t Stage(const TSubject& subject, std::uint32_t room);
  std::uint32_t Split(std::uint32_t room);
  std::uint32_t PlaceContinuation(std::uint32_t bytes);
  [[nodiscard]] std::uint32_t FieldBytes(std::size_t first, std::size_t end) const;
  void PutPiece(TByteWriter& out, std::size_t index, std::uint32_t firstContinuationSector) const;

  const TCDFiles& cd_;
  const TDirEntry& dir_;
  TStaging contents_;
  std::vector<std::uint8_t> bytes_;
  std::vector<std::uint32_t> fieldEnds_;
  std::vector<TPiece> pieces_;
  std::uint32_t continuationSectors_ = 0;
  std::uint32_t continuationUsed_ = 0;
  bool fieldsLost_ = false;
};

}  // namespace kilnor
