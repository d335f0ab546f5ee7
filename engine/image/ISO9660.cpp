#include "engine/image/ISO9660.h"

#include <algorithm>
#include <cstdio>
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
struct TArea {
  bool (*Present)(const TCDFiles&);
  std::uint32_t (*Sectors)(const TCDFiles&, std::uint32_t start);
  void (*Place)(TCDFiles&, std::uint32_t start);
  bool (*Emit)(const TCDFiles&, TByteWriter&);
};

bool Always(const TCDFiles&) { return true; }
bool WithBootImage(const TCDFiles& cd) { return !cd.BootImage.empty(); }
bool WithJoliet(const TCDFiles& cd) { return cd.JolietFS; }
bool WithIso1999(const TCDFiles& cd) { return cd.ISO9660v1999FS; }
bool WithUDF(const TCDFiles& cd) { return cd.UDFBridge; }

std::uint32_t OneSector(const TCDFiles&, std::uint32_t) { return 1; }
void Unplaced(TCDFiles&, std::uint32_t) {}
bool NothingToWrite(const TCDFiles&, TByteWriter&) { return true; }

bool EmitDirectories(const TCDFiles& cd, TByteWriter& out, TTree tree) {
  for (const auto& d : cd.Dirs) {
    if (d->number == 0) continue;
    const std::uint32_t continuation = tree == TTree::ISO ? d->ContinuationSectors : 0;
    TByteWriter extent = out.take(static_cast<std::size_t>(tree == TTree::ISO ? d->DirSize : d->DirSizeJ) +
                                  std::size_t{continuation} * kSectorSize);
    WriteDirectoryExtent(extent, cd, *d, tree);
    if (!extent.ok()) return false;
  }
  return out.ok();
}

template <TTree tree, TByteOrder order>
bool EmitPathTable(const TCDFiles& cd, TByteWriter& out) {
  WritePathTable(out, cd, tree, order);
  return out.ok();
}

template <void (*Write)(TByteWriter&, const TCDFiles&)>
bool EmitSector(const TCDFiles& cd, TByteWriter& out) {
  Write(out, cd);
  return out.ok();
}

// The session in address order.
const TArea kSessionAreas[] = {
    // System area.
    {Always, [](const TCDFiles&, std::uint32_t) { return kSystemAreaSectors; }, Unplaced, NothingToWrite},
    // Volume descriptor set.
    {Always, OneSector, Unplaced, EmitSector<WritePrimaryDescriptor>},
    {WithBootImage, OneSector, Unplaced, EmitSector<WriteBootRecord>},
    {WithIso1999, OneSector, Unplaced, EmitSector<WriteEnhancedDescriptor>},
    {WithJoliet, OneSector, Unplaced, EmitSector<WriteJolietDescriptor>},
    {Always, OneSector, Unplaced,
     [](const TCDFiles&, TByteWriter& out) {
       WriteTerminator(out);
       return out.ok();
     }},
    // UDF bridge: recognition sequence up to the file set descriptor.
    {WithUDF, [](const TCDFiles& cd, std::uint32_t) { return UDFVolumeAreaSectors(cd); },
     [](TCDFiles& cd, std::uint32_t start) { (void)InitUDFVolumeLayout(cd, start); },
     [](const TCDFiles& cd, TByteWriter& out) { return WriteUDFVolumeStructures(cd, cd.FirstWritableSector, out).ok(); }},
    // Path tables.
    {Always, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidth); },
     [](TCDFiles& cd, std::uint32_t start) { cd.PathTableExtentL = start; },
     EmitPathTable<TTree::ISO, TByteOrder::Little>},
    {Always, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidth); },
     [](TCDFiles& cd, std::uint32_t start) { cd.path_table_extent_m = start; },
     EmitPathTable<TTree::ISO, TByteOrder::Big>},
    {WithJoliet, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidthJ); },
     [](TCDFiles& cd, std::uint32_t start) { cd.path_table_extent_j_l = start; },
     EmitPathTable<TTree::Joliet, TByteOrder::Little>},
    {WithJoliet, [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(cd.PathTableWidthJ); },
     [](TCDFiles& cd, std::uint32_t start) { cd.path_table_extent_j_m = start; },
     EmitPathTable<TTree::Joliet, TByteOrder::Big>},
    // Directory areas.
    {Always, [](const TCDFiles& cd, std::uint32_t) { return cd.FileDirDescriptorWidth; },
     [](TCDFiles& cd, std::uint32_t start) { cd.FileDirDescriptorExtent = start; },
     [](const TCDFiles& cd, TByteWriter& out) { return EmitDirectories(cd, out, TTree::ISO); }},
    {WithJoliet, [](const TCDFiles& cd, std::uint32_t) { return cd.file_and_dir_descriptor_width_j; },
     [](TCDFiles& cd, std::uint32_t start) { cd.file_and_dir_descriptor_extent_j = start; },
     [](const TCDFiles& cd, TByteWriter& out) { return EmitDirectories(cd, out, TTree::Joliet); }},
    // Boot catalog.
    {WithBootImage, OneSector, [](TCDFiles& cd, std::uint32_t start) { cd.BootCatalogLocation = start; },
     EmitSector<WriteBootCatalog>},
    // Zero sectors up to the first data sector: the end of the header.
    {Always,
     [](const TCDFiles&, std::uint32_t start) { return start < kFirstDataSector ? kFirstDataSector - start : 0u; },
     [](TCDFiles& cd, std::uint32_t start) {
       cd.Blank = static_cast<std::int32_t>(kFirstDataSector) - static_cast<std::int32_t>(start);
     },
     NothingToWrite},
    // Boot image data.
    {WithBootImage,
     [](const TCDFiles& cd, std::uint32_t) { return SectorsFor(static_cast<std::uint64_t>(cd.BootImageSize)); },
     [](TCDFiles& cd, std::uint32_t start) { cd.BootImageLocation = start; }, nullptr},
    // UDF file entries and directory data, generated while the session streams.
    {WithUDF, [](const TCDFiles& cd, std::uint32_t) { return cd.UDFBridgeInfo.NumberOfBlocksRequiredForFileDirStructures; },
     [](TCDFiles& cd, std::uint32_t start) { cd.UDFBridgeInfo.LayoutError = LayoutUDFFileStructures(cd, start).Error; },
     nullptr},
    // File data.
    {Always, [](const TCDFiles& cd, std::uint32_t) { return cd.FilesSize; },
     [](TCDFiles& cd, std::uint32_t start) { cd.FirstDataSector = start; }, nullptr},
    // Zero sectors up to a whole packet (less the closing UDF anchor).
    {Always,
     [](const TCDFiles& cd, std::uint32_t start) {
       const std::uint32_t end = start + (cd.UDFBridge ? 1 : 0);
       return (kPacketSectors - end % kPacketSectors) % kPacketSectors;
     },
     Unplaced, nullptr},
    // Closing UDF anchor in the last sector of the session.
    {WithUDF, OneSector, [](TCDFiles& cd, std::uint32_t start) { FinishUDFLayout(cd, cd.FirstDataSector, start); },
     nullptr},
};

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

TLayoutSwitches CurrentSwitches(const TCDFiles& cd) {
  return {cd.JolietFS,     cd.ISO9660v1999FS, cd.UDFBridge,      cd.BootImage,
          cd.BootImageSize, cd.RockRidge,      cd.RockRidgePublic};
}

bool LayoutIsCurrent(const TCDFiles& cd) { return cd.Prepared && cd.PreparedSwitches == CurrentSwitches(cd); }

std::uint32_t Prepare(TCDFiles& cd) {
  cd.Prepared = false;
  cd.PrepareError.clear();
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
    if (area.Emit != nullptr) cd.HeaderSectors = static_cast<std::uint32_t>(cursor);
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
  if (!LayoutIsCurrent(cd)) return false;
  cd.isom.assign(static_cast<std::size_t>(cd.HeaderSectors) * kSectorSize, 0);
  cd.IsoHeaderSize = 0;
  TByteWriter out(cd.isom);
  bool written = true;
  std::uint32_t cursor = 0;
  for (const TArea& area : kSessionAreas) {
    if (!area.Present(cd)) continue;
    const std::uint32_t sectors = area.Sectors(cd, cursor);
    cursor += sectors;
    if (area.Emit == nullptr) continue;
    TByteWriter part = out.take(static_cast<std::size_t>(sectors) * kSectorSize);
    written = area.Emit(cd, part) && written;
  }
  if (!written || !out.ok() || out.position() != cd.isom.size()) {
    cd.isom.clear();
    cd.isom.shrink_to_fit();
    return false;
  }
  cd.IsoHeaderSize = static_cast<std::int64_t>(out.position());
  return true;
}

}  // namespace kilnor
