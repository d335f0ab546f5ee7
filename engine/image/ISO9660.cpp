#include "engine/image/ISO9660.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "engine/image/ByteWriter.h"
#include "engine/image/Directories.h"
#include "engine/image/ElTorito.h"
#include "engine/image/Identifiers.h"
#include "engine/image/PathTables.h"
#include "engine/image/RecordingDates.h"
#include "engine/image/UDFBridge.h"
#include "engine/image/Tree.h"
#include "engine/image/VolumeDescriptors.h"
#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

constexpr std::uint32_t kSystemAreaSectors = 16;

// Every address and the volume's size are 32-bit fields.
constexpr std::uint64_t kMaxSessionSectors = 0xFFFFFFFFull;

constexpr std::uint64_t SectorsOfBytes(std::uint64_t bytes) { return (bytes + kSectorSize - 1) / kSectorSize; }

constexpr std::uint32_t SectorsFor(std::uint64_t bytes) { return static_cast<std::uint32_t>(SectorsOfBytes(bytes)); }

// ---- Reserve: identifiers, numbering and sizes ----------------------------

// Numbers the directories in path-table order: a walk level by level from
// the root, each directory's subdirectories taken in the (sorted) order of
// its list, gives the order by depth, parent number and identifier.
void NumberDirectories(TCDFiles& cd) {
  for (auto& dir : cd.Dirs) {
    dir->number = 0;
    dir->depth = 0;
    dir->OwnEntry = nullptr;
    dir->Subdirectories = 0;
  }
  cd.PathTableEntries.clear();
  cd.PathTableEntries.push_back(cd.RootDir);
  cd.RootDir->number = 1;
  for (std::size_t i = 0; i < cd.PathTableEntries.size(); ++i) {
    TDirEntry& dir = *cd.PathTableEntries[i];
    for (pFileEntry e = dir.Files; e != nullptr; e = e->NextFile) {
      pDirEntry child = e->DirRecord;
      if (child == nullptr || child->number != 0) continue;
      child->OwnEntry = e;
      child->depth = static_cast<std::uint16_t>(dir.depth + 1);
      cd.PathTableEntries.push_back(child);
      child->number = static_cast<std::uint16_t>(cd.PathTableEntries.size());
      ++dir.Subdirectories;
    }
  }
}

// Sizes every directory extent of one tree and places it, followed by its
// continuation sectors, in the tree's directory area, in the order the
// directories were created. A directory that no list reaches is not
// recorded. False, with the reason in PrepareError, when a record has no
// room for its Rock Ridge fields.
[[nodiscard]] bool MeasureDirectories(TCDFiles& cd, TTree tree) {
  std::uint32_t sectors = 0;
  bool fieldsFit = true;
  for (auto& d : cd.Dirs) {
    std::int32_t& size = tree == TTree::ISO ? d->DirSize : d->DirSizeJ;
    std::uint32_t& address = tree == TTree::ISO ? d->Address : d->AddressJ;
    if (tree == TTree::ISO) d->ContinuationSectors = 0;
    if (d->number == 0) {
      size = 0;
      address = 0;
      continue;
    }
    const TDirectorySize measured = MeasureDirectory(cd, *d, tree);
    size = static_cast<std::int32_t>(measured.ExtentBytes);
    address = sectors;
    if (tree == TTree::ISO) d->ContinuationSectors = measured.ContinuationSectors;
    sectors += measured.ExtentBytes / kSectorSize + measured.ContinuationSectors;
    if (measured.FieldsLost && fieldsFit) {
      fieldsFit = false;
      cd.PrepareError = "The Rock Ridge fields of a record in " + Utf16ToUtf8(DirPathOf(d.get())) +
                        " do not fit beside its ISO 9660:1999 identifier. Turn off Rock Ridge or ISO 9660:1999.";
    }
  }
  (tree == TTree::ISO ? cd.FileDirDescriptorWidth : cd.file_and_dir_descriptor_width_j) = sectors;
  return fieldsFit;
}

// New data follows in the order of insertion, each file from a sector
// boundary; twins take the address of the data they share. Returns the
// sectors of new data, which may be more than the volume can address.
std::uint64_t AllocateFileData(TCDFiles& cd) {
  std::uint64_t sectors = 0;
  for (auto& e : cd.Files) {
    if (HasNewData(*e)) {
      e->Address = static_cast<std::uint32_t>(sectors);
      sectors += SectorsOfBytes(static_cast<std::uint64_t>(e->FileSize));
    } else if (e->DirRecord == nullptr && !e->Imported && e->FileSize <= 0) {
      e->Address = 0;
    }
  }
  for (auto& e : cd.Files)
    if (e->ReferenceEntry != nullptr) e->Address = DataOwner(*e).Address;
  cd.FilesSize = static_cast<std::uint32_t>(std::min(sectors, kMaxSessionSectors));
  return sectors;
}

// Refuses a session larger than its 32-bit fields can describe, before any
// of them has wrapped into a wrong but plausible size.
[[nodiscard]] bool SessionFits(TCDFiles& cd, std::uint64_t sectors) {
  if (sectors <= kMaxSessionSectors) return true;
  const double tebibytes = static_cast<double>(sectors) * kSectorSize / (1ull << 40);
  char size[32];
  std::snprintf(size, sizeof size, "%.1f TiB", tebibytes);
  cd.PrepareError = "The image would take " + std::to_string(sectors) + " sectors (" + size +
                    "); an ISO 9660 volume holds at most " + std::to_string(kMaxSessionSectors) +
                    " sectors (8 TiB). Record fewer or smaller files.";
  return false;
}

// ---- The sector map ---------------------------------------------------------

// One area of the session. Areas that have an emitter form the generated
// header; the others are streamed from elsewhere (boot image, file data).
// An emitter writes its area as pieces, one after another: the piece number
// `piece` of `Pieces` into a writer of `PieceBytes` bytes; whatever the
// pieces leave of the area is zero. Up-front areas are written by
// GenerateHeader; the others only when the stream reaches them, so that no
// more than one piece of them is held at a time.
struct TEmitter {
  bool UpFront = false;
  std::size_t (*Pieces)(const TCDFiles&) = nullptr;  // null: the whole area is one piece
  std::size_t (*PieceBytes)(const TCDFiles&, std::size_t piece) = nullptr;
  bool (*Emit)(const TCDFiles&, std::size_t piece, TByteWriter&) = nullptr;
};

struct TArea {
  bool (*Present)(const TCDFiles&);
  std::uint32_t (*Sectors)(const TCDFiles&, std::uint32_t start);
  void (*Place)(TCDFiles&, std::uint32_t start);
  std::optional<TEmitter> Emitter;
};

bool Always(const TCDFiles&) { return true; }
bool WithBootImage(const TCDFiles& cd) { return !cd.BootImage.empty(); }
bool WithJoliet(const TCDFiles& cd) { return cd.JolietFS; }
bool WithIso1999(const TCDFiles& cd) { return cd.ISO9660v1999FS; }
bool WithUDF(const TCDFiles& cd) { return cd.UDFBridge; }

std::uint32_t OneSector(const TCDFiles&, std::uint32_t) { return 1; }
void Unplaced(TCDFiles&, std::uint32_t) {}
bool NothingToWrite(const TCDFiles&, std::size_t, TByteWriter&) { return true; }

// Zero sectors written before any other: they are part of what is known up front.
constexpr TEmitter kZerosUpFront{true, nullptr, nullptr, NothingToWrite};
constexpr TEmitter kZeros{false, nullptr, nullptr, NothingToWrite};

// The directory areas: one piece per directory, in the order Prepare placed them.
std::size_t DirectoryCount(const TCDFiles& cd) { return cd.Dirs.size(); }

template <TTree tree>
std::size_t ExtentBytes(const TCDFiles& cd, std::size_t piece) {
  const TDirEntry& d = *cd.Dirs[piece];
  if (d.number == 0) return 0;
  const std::uint32_t continuation = tree == TTree::ISO ? d.ContinuationSectors : 0;
  const auto extent = static_cast<std::size_t>(tree == TTree::ISO ? d.DirSize : d.DirSizeJ);
  return extent + std::size_t{continuation} * kSectorSize;
}

template <TTree tree>
bool EmitDirectory(const TCDFiles& cd, std::size_t piece, TByteWriter& out) {
  const TDirEntry& d = *cd.Dirs[piece];
  if (d.number != 0) WriteDirectoryExtent(out, cd, d, tree);
  return out.ok();
}

template <TTree tree>
constexpr TEmitter kDirectories{false, DirectoryCount, ExtentBytes<tree>, EmitDirectory<tree>};

template <TTree tree, TByteOrder order>
bool EmitPathTable(const TCDFiles& cd, std::size_t, TByteWriter& out) {
  WritePathTable(out, cd, tree, order);
  return out.ok();
}

template <void (*Write)(TByteWriter&, const TCDFiles&)>
bool EmitSector(const TCDFiles& cd, std::size_t, TByteWriter& out) {
  Write(out, cd);
  return out.ok();
}

template <void (*Write)(TByteWriter&, const TCDFiles&)>
constexpr TEmitter kDescriptor{true, nullptr, nullptr, EmitSector<Write>};

void WriteTerminatorOf(TByteWriter& out, const TCDFiles&) { WriteTerminator(out); }

bool EmitUDFVolumeStructures(const TCDFiles& cd, std::size_t, TByteWriter& out) {
  return WriteUDFVolumeStructures(cd, cd.FirstWritableSector, out).ok();
}

// The session in address order.
const TArea kSessionAreas[] = {
    // System area.
    {Always, [](const TCDFiles&, std::uint32_t) { return kSystemAreaSectors; }, Unplaced, kZerosUpFront},
    // Volume descriptor set.
    {Always, OneSector, Unplaced, kDescriptor<WritePrimaryDescriptor>},
    {WithBootImage, OneSector, Unplaced, kDescriptor<WriteBootRecord>},
    {WithIso1999, OneSector, Unplaced, kDescriptor<WriteEnhancedDescriptor>},
    {WithJoliet, OneSector, Unplaced, kDescriptor<WriteJolietDescriptor>},
    {Always, OneSector, Unplaced, kDescriptor<WriteTerminatorOf>},
    // UDF bridge: recognition sequence up to the file set descriptor.
    {WithUDF, [](const TCDFiles& cd, std::uint32_t) { return UDFVolumeAreaSectors(cd); },
     [](TCDFiles& cd, std::uint32_t start) { (void)InitUDFVolumeLayout(cd, start); },
     TEmitter{true, nullptr, nullptr, EmitUDFVolumeStructures}},
    // Path tables.
    {Always, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidth); },
     [](TCDFiles& cd, std::uint32_t start) { cd.PathTableExtentL = start; },
     TEmitter{false, nullptr, nullptr, EmitPathTable<TTree::ISO, TByteOrder::Little>}},
    {Always, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidth); },
     [](TCDFiles& cd, std::uint32_t start) { cd.path_table_extent_m = start; },
     TEmitter{false, nullptr, nullptr, EmitPathTable<TTree::ISO, TByteOrder::Big>}},
    {WithJoliet, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidthJ); },
     [](TCDFiles& cd, std::uint32_t start) { cd.path_table_extent_j_l = start; },
     TEmitter{false, nullptr, nullptr, EmitPathTable<TTree::Joliet, TByteOrder::Little>}},
    {WithJoliet, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidthJ); },
     [](TCDFiles& cd, std::uint32_t start) { cd.path_table_extent_j_m = start; },
     TEmitter{false, nullptr, nullptr, EmitPathTable<TTree::Joliet, TByteOrder::Big>}},
    // Directory areas.
    {Always, [](const TCDFiles& cd, std::uint32_t) { return cd.FileDirDescriptorWidth; },
     [](TCDFiles& cd, std::uint32_t start) { cd.FileDirDescriptorExtent = start; }, kDirectories<TTree::ISO>},
    {WithJoliet, [](const TCDFiles& cd, std::uint32_t) { return cd.file_and_dir_descriptor_width_j; },
     [](TCDFiles& cd, std::uint32_t start) { cd.file_and_dir_descriptor_extent_j = start; },
     kDirectories<TTree::Joliet>},
    // Boot catalog.
    {WithBootImage, OneSector, [](TCDFiles& cd, std::uint32_t start) { cd.BootCatalogLocation = start; },
     TEmitter{false, nullptr, nullptr, EmitSector<WriteBootCatalog>}},
    // Zero sectors up to the first data sector: the end of the header.
    {Always,
     [](const TCDFiles&, std::uint32_t start) { return start < kFirstDataSector ? kFirstDataSector - start : 0u; },
     [](TCDFiles& cd, std::uint32_t start) {
       cd.Blank = static_cast<std::int32_t>(kFirstDataSector) - static_cast<std::int32_t>(start);
     },
     kZeros},
    // Boot image data.
    {WithBootImage,
     [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(static_cast<std::uint64_t>(cd.BootImageSize)); },
     [](TCDFiles& cd, std::uint32_t start) { cd.BootImageLocation = start; }, std::nullopt},
    // UDF file entries and directory data, generated while the session streams.
    {WithUDF, [](const TCDFiles& cd, std::uint32_t) { return cd.UDFBridgeInfo.NumberOfBlocksRequiredForFileDirStructures; },
     [](TCDFiles& cd, std::uint32_t start) { cd.UDFBridgeInfo.LayoutError = LayoutUDFFileStructures(cd, start).Error; },
     std::nullopt},
    // File data.
    {Always, [](const TCDFiles& cd, std::uint32_t) { return cd.FilesSize; },
     [](TCDFiles& cd, std::uint32_t start) { cd.FirstDataSector = start; }, std::nullopt},
    // Zero sectors up to a whole packet (less the closing UDF anchor).
    {Always,
     [](const TCDFiles& cd, std::uint32_t start) {
       const std::uint32_t end = start + (cd.UDFBridge ? 1 : 0);
       return (kPacketSectors - end % kPacketSectors) % kPacketSectors;
     },
     Unplaced, std::nullopt},
    // Closing UDF anchor in the last sector of the session.
    {WithUDF, OneSector, [](TCDFiles& cd, std::uint32_t start) { FinishUDFLayout(cd, cd.FirstDataSector, start); },
     std::nullopt},
};

constexpr std::size_t kAreaCount = std::size(kSessionAreas);

std::size_t PieceCount(const TCDFiles& cd, const TEmitter& emitter) {
  return emitter.Pieces != nullptr ? emitter.Pieces(cd) : 1;
}

void ResetOptionalAddresses(TCDFiles& cd) {
  cd.PathTableWidthJ = 0;
  cd.path_table_extent_j_l = cd.path_table_extent_j_m = 0;
  cd.file_and_dir_descriptor_extent_j = cd.file_and_dir_descriptor_width_j = 0;
  cd.BootCatalogLocation = cd.BootImageLocation = 0;
}

}  // namespace

bool HasNewData(const TFileEntry& entry) {
  return entry.DirRecord == nullptr && !entry.Imported && entry.ReferenceEntry == nullptr && entry.FileSize > 0;
}

bool IsEmptySourceFile(const TFileEntry& entry) {
  return entry.DirRecord == nullptr && !entry.Imported && entry.ReferenceEntry == nullptr && entry.FileSize == 0 &&
         entry.SourceFolder != nullptr && (entry.attributes & kAttributeReparsePoint) == 0 &&
         !entry.Extras.get().mfcbFunction;
}

TLayoutSwitches CurrentSwitches(const TCDFiles& cd) {
  return {cd.JolietFS,     cd.ISO9660v1999FS, cd.UDFBridge,      cd.BootImage,
          cd.BootImageSize, cd.RockRidge,      cd.RockRidgePublic};
}

bool LayoutIsCurrent(const TCDFiles& cd) { return cd.Prepared && cd.PreparedSwitches == CurrentSwitches(cd); }

std::uint32_t Prepare(TCDFiles& cd) {
  // A running write streams the current layout.
  if (cd.WriteRunning) {
    cd.PrepareError = "A write is running: prepare the compilation again once it has ended.";
    return 0;
  }
  cd.Prepared = false;
  cd.PrepareError.clear();
  // A header written for an earlier layout must not stream with this one.
  cd.isom.clear();
  cd.IsoHeaderSize = 0;
  if (cd.RootDir == nullptr) return 0;
  cd.ComponentStatus = stPreparing;
  cd.ISO9660FS = true;
  ResetOptionalAddresses(cd);

  for (auto& dir : cd.Dirs) {
    ChooseIdentifiers(*dir, cd.ISO9660v1999FS, cd.RockRidge);
    SortEntries(*dir);
  }
  NumberDirectories(cd);
  cd.PathTableWidth = PathTableBytes(cd, TTree::ISO);
  const bool fieldsFit = MeasureDirectories(cd, TTree::ISO);
  if (cd.JolietFS) {
    cd.PathTableWidthJ = PathTableBytes(cd, TTree::Joliet);
    (void)MeasureDirectories(cd, TTree::Joliet);
  }
  if (!fieldsFit) {
    cd.ComponentStatus = stIdle;
    return 0;
  }
  const std::uint64_t dataSectors = AllocateFileData(cd);
  cd.VolumeTime = LocalTimeNow();
  if (!SessionFits(cd, dataSectors)) {
    cd.ComponentStatus = stIdle;
    return 0;
  }

  std::uint64_t cursor = 0;
  for (const TArea& area : kSessionAreas) {
    if (!area.Present(cd)) continue;
    const auto start = static_cast<std::uint32_t>(std::min(cursor, kMaxSessionSectors));
    area.Place(cd, start);
    cursor += area.Sectors(cd, start);
    if (area.Emitter) cd.HeaderSectors = static_cast<std::uint32_t>(cursor);
    if (area.Emitter && area.Emitter->UpFront) cd.UpFrontSectors = static_cast<std::uint32_t>(cursor);
  }
  cd.TotalImageSize = static_cast<std::uint32_t>(std::min(cursor, kMaxSessionSectors));
  if (!SessionFits(cd, cursor)) {
    cd.ComponentStatus = stIdle;
    return 0;
  }
  if (cd.UDFBridge && !cd.UDFBridgeInfo.LayoutError.empty()) {
    cd.ComponentStatus = stIdle;
    return 0;
  }

  cd.PreparedSwitches = CurrentSwitches(cd);
  cd.Prepared = true;
  cd.ComponentStatus = stIdle;
  return cd.FirstDataSector + cd.FilesSize + (cd.UDFBridge ? 1 : 0);
}

bool GenerateHeader(TCDFiles& cd) {
  cd.isom.clear();
  cd.IsoHeaderSize = 0;
  if (!LayoutIsCurrent(cd)) return false;
  std::vector<std::uint8_t> upFront(static_cast<std::size_t>(cd.UpFrontSectors) * kSectorSize, 0);
  THeaderGenerator generator(cd);
  if (!generator.Generate(upFront)) return false;
  cd.isom = std::move(upFront);
  cd.IsoHeaderSize = static_cast<std::int64_t>(cd.HeaderSectors) * kSectorSize;
  return true;
}

THeaderGenerator::THeaderGenerator(const TCDFiles& cd) : cd_(cd) {}

bool THeaderGenerator::Generate(std::span<std::uint8_t> sectors) {
  if (!LayoutIsCurrent(cd_) || sectors.size() % kSectorSize != 0) return false;
  std::size_t filled = 0;
  while (filled < sectors.size()) {
    if (pieceOffset_ == piece_.size() && !NextPiece()) return false;
    const std::size_t n = std::min(sectors.size() - filled, piece_.size() - pieceOffset_);
    std::memcpy(sectors.data() + filled, piece_.data() + pieceOffset_, n);
    pieceOffset_ += n;
    filled += n;
  }
  return true;
}

// Writes the next piece of the header into piece_: the up-front sectors
// GenerateHeader kept when there are any, else the next piece of the current
// area, the zeros its pieces leave, or the first piece of the next area.
bool THeaderGenerator::NextPiece() {
  if (sector_ == 0 && !cd_.isom.empty()) return TakeUpFrontSectors();
  while (area_ < kAreaCount) {
    const TArea& area = kSessionAreas[area_];
    if (!area.Present(cd_) || !area.Emitter) {
      NextArea();
      continue;
    }
    const TEmitter& emitter = *area.Emitter;
    const std::uint64_t areaBytes = std::uint64_t{area.Sectors(cd_, sector_)} * kSectorSize;
    if (pieceNumber_ < PieceCount(cd_, emitter)) {
      const std::size_t bytes = emitter.PieceBytes != nullptr ? emitter.PieceBytes(cd_, pieceNumber_) : areaBytes;
      if (areaWritten_ + bytes > areaBytes) return false;
      piece_.assign(bytes, 0);
      pieceOffset_ = 0;
      TByteWriter out(piece_);
      if (!emitter.Emit(cd_, pieceNumber_++, out)) return false;
      areaWritten_ += bytes;
      if (bytes > 0) return true;
      continue;
    }
    const std::uint64_t rest = areaBytes - areaWritten_;
    sector_ += area.Sectors(cd_, sector_);
    NextArea();
    if (rest > 0) {
      piece_.assign(rest, 0);
      pieceOffset_ = 0;
      return true;
    }
  }
  return false;
}

bool THeaderGenerator::TakeUpFrontSectors() {
  piece_ = cd_.isom;
  pieceOffset_ = 0;
  while (area_ < kAreaCount && sector_ < cd_.UpFrontSectors) {
    const TArea& area = kSessionAreas[area_];
    if (area.Present(cd_)) sector_ += area.Sectors(cd_, sector_);
    NextArea();
  }
  return sector_ == cd_.UpFrontSectors && piece_.size() == std::size_t{cd_.UpFrontSectors} * kSectorSize;
}

void THeaderGenerator::NextArea() {
  ++area_;
  pieceNumber_ = 0;
  areaWritten_ = 0;
}

std::vector<std::uint8_t> WholeHeader(const TCDFiles& cd) {
  std::vector<std::uint8_t> header(static_cast<std::size_t>(cd.HeaderSectors) * kSectorSize, 0);
  THeaderGenerator generator(cd);
  if (!generator.Generate(header)) header.clear();
  return header;
}

}  // namespace kilnor
