#pragma once
// The UDF 1.50 bridge: a UDF file system recorded beside ISO 9660 that
// describes the same files, its file entries pointing at the very sectors
// where the ISO layout placed the data.
//
// Like the rest of the layout it works in two phases. Prepare reserves the
// places (InitUDFVolumeLayout, LayoutUDFFileStructures, FinishUDFLayout) and
// computes nothing that depends on where the session starts. When a write
// knows its session start, the header receives the volume structures
// (WriteUDFVolumeStructures), the cache thread asks a
// TUDFFileStructureGenerator for the file entries and directory data sector by
// sector, and the last sector of the session receives the closing anchor
// (BuildAnchorPointer). Everything written follows from the prepared layout
// and the session start alone, so writing a prepared compilation twice gives
// the same bytes both times.
#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/image/ByteWriter.h"
#include "engine/image/ECMA_167.h"
#include "engine/image/TreeTypes.h"
#include "engine/image/UDFTypes.h"

namespace kilnor {

// Session sectors of the fixed volume structures.
inline constexpr std::uint32_t kUDFMainSequenceSector = 32;
inline constexpr std::uint32_t kUDFReserveSequenceSector = 48;
inline constexpr std::uint32_t kUDFSequenceSectors = 16;
inline constexpr std::uint32_t kUDFIntegritySector = 64;
inline constexpr std::uint32_t kUDFAnchorSector = 256;
inline constexpr std::uint32_t kUDFFileSetSector = 257;
// First sector after the file set descriptor and its terminator.
inline constexpr std::uint32_t kUDFVolumeAreaEnd = 259;
// The recognition sequence takes three sectors before the main sequence.
inline constexpr std::uint32_t kUDFLatestRecognitionSector = kUDFMainSequenceSector - 3;
// Where the partition starts unless imported data lies lower.
inline constexpr std::uint32_t kUDFDefaultPartitionStart = 257;

// The outcome of a step that can refuse the bridge: empty Error = success.
struct [[nodiscard]] TUDFStatus {
  std::string Error;
  [[nodiscard]] bool ok() const { return Error.empty(); }
};

// Prepare, right after the ISO 9660 volume descriptors: fixes the volume
// structures from session sector `recognitionSector` (the sector after the
// terminator, at most 29), takes the session's timestamp and the label.
// Returns the first session sector after the UDF volume area.
[[nodiscard]] std::uint32_t InitUDFVolumeLayout(
    TCDFiles& cd, std::uint32_t recognitionSector,
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

// Prepare, once file data has addresses: gives every directory and file its
// file entry and every directory its data blocks from session sector `first`
// on, in the order the generator produces them; chooses the identifiers; sets
// the partition start below imported data. Refuses a file that one file entry
// cannot describe.
TUDFStatus LayoutUDFFileStructures(TCDFiles& cd, std::uint32_t first);

// Prepare, at its end: `firstDataSector` is FirstDataSector, `lastSector` the
// session's last sector (TotalImageSize - 1), which holds the closing anchor.
void FinishUDFLayout(TCDFiles& cd, std::uint32_t firstDataSector, std::uint32_t lastSector);

// Sectors WriteUDFVolumeStructures fills: the recognition sequence up to the
// file set descriptor's terminator.
[[nodiscard]] std::uint32_t UDFVolumeAreaSectors(const TCDFiles& cd);

// GenerateHeader: appends session sectors VolumeRecognitionSequence .. 258
// (UDFVolumeAreaSectors sectors) for a session that starts at absolute
// sector `sessionStart`.
TUDFStatus WriteUDFVolumeStructures(const TCDFiles& cd, std::uint32_t sessionStart, TByteWriter& out);

// One anchor volume descriptor pointer sector for session sector
// `sessionSector` (256, and the session's last sector).
void BuildAnchorPointer(std::span<std::uint8_t, kUDFBlockBytes> sector, const TCDFiles& cd,
                        std::uint32_t sessionStart, std::uint32_t sessionSector);

// Produces the file entries and directory data of a prepared compilation, in
// the order LayoutUDFFileStructures laid them out, a few sectors per call.
// The compilation must stay unchanged while a generator runs; the cache thread
// owns one generator for one write.
class TUDFFileStructureGenerator {
 public:
  TUDFFileStructureGenerator(const TCDFiles& cd, std::uint32_t sessionStart);

  // Fills `sectors` (whole sectors) with the next sectors of the area.
  // Refuses a request past the end of the area, a layout that is no longer
  // current, and data the partition cannot address.
  TUDFStatus Generate(std::span<std::uint8_t> sectors);

  // Every sector of the area has been produced.
  [[nodiscard]] bool Exhausted() const { return state_ == TState::Done; }

 private:
  enum class TState { Start, WritingDirICB, WritingDirData, WritingFileICB, Done };
  struct TFrame {
    const TDirEntry* Dir;
    const TFileEntry* Next;   // next entry whose file entry or group follows
  };

  TUDFStatus Begin();
  TUDFStatus WriteDirectoryEntry(std::span<std::uint8_t> sector);
  TUDFStatus WriteDirectoryData(std::span<std::uint8_t> sector);
  TUDFStatus WriteFileEntry(std::span<std::uint8_t> sector);
  void AdvanceToNextEntry();
  [[nodiscard]] bool BuildNextIdentifier(std::uint32_t blockLBN);
  [[nodiscard]] std::uint32_t ToLBN(std::uint64_t sessionSector) const;

  const TCDFiles& cd_;
  const std::uint32_t sessionStart_;
  TState state_ = TState::Start;
  std::uint64_t nextUniqueID_ = 0;
  std::vector<TFrame> stack_;
  const TFileEntry* currentFile_ = nullptr;

  // The directory data being streamed: identifier descriptors one after
  // another over its blocks, one descriptor built at a time.
  bool parentPending_ = false;
  const TFileEntry* nextIdentifier_ = nullptr;
  std::uint32_t blockOffset_ = 0;
  std::array<std::uint8_t, kMaxFileIdentifierDescriptorBytes> fidContainer_{};
  std::size_t fidSize_ = 0;
  std::size_t fidEmitted_ = 0;
};

}  // namespace kilnor
