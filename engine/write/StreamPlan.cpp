#include "engine/write/StreamPlan.h"

#include <memory>
#include <span>

#include "engine/image/Tree.h"
#include "engine/image/UDFBridge.h"
#include "engine/platform/Unicode.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

// The header: its up-front part as GenerateHeader wrote it, the path tables
// and directories generated when the stream reaches them.
TStreamItem HeaderItem(const TCDFiles& CDFiles) {
  TStreamItem item;
  item.Source = TStreamItem::TSource::Generator;
  item.Size = static_cast<std::uint64_t>(CDFiles.IsoHeaderSize);
  auto generator = std::make_shared<THeaderGenerator>(CDFiles);
  item.Generate = [generator](std::uint8_t* Buffer, std::uint32_t Sectors) {
    return generator->Generate(std::span(Buffer, std::size_t{Sectors} * kStreamSectorBytes));
  };
  return item;
}

TStreamItem BootImageItem(const TCDFiles& CDFiles) {
  TStreamItem item;
  item.Source = TStreamItem::TSource::File;
  item.Size = static_cast<std::uint64_t>(CDFiles.BootImageSize);
  item.Sector = CDFiles.BootImageLocation;
  item.Path = CDFiles.BootImage;
  item.Name = Utf8ToUtf16(CDFiles.BootImage);
  return item;
}

// The UDF file entries and directory data, generated while the session
// streams; they lie right before the file data.
TStreamItem UDFFileStructuresItem(const TCDFiles& CDFiles) {
  const std::uint32_t sectors = CDFiles.UDFBridgeInfo.NumberOfBlocksRequiredForFileDirStructures;
  TStreamItem item;
  item.Source = TStreamItem::TSource::Generator;
  item.Size = std::uint64_t{sectors} * kStreamSectorBytes;
  item.Sector = CDFiles.FirstDataSector - sectors;
  auto generator = std::make_shared<TUDFFileStructureGenerator>(CDFiles, CDFiles.FirstWritableSector);
  item.Generate = [generator](std::uint8_t* Buffer, std::uint32_t Sectors) {
    return generator->Generate(std::span(Buffer, std::size_t{Sectors} * kStreamSectorBytes)).ok();
  };
  return item;
}

// The closing anchor, written into the session's last sector.
TLastSectorFinisher UDFClosingAnchor(const TCDFiles& CDFiles) {
  return [&CDFiles](std::uint8_t* Sector) {
    BuildAnchorPointer(std::span<std::uint8_t, kUDFBlockBytes>(Sector, kUDFBlockBytes), CDFiles,
                       CDFiles.FirstWritableSector, CDFiles.TotalImageSize - 1);
  };
}

// The file data area, streamed from the compilation's entries.
TStreamItem CompilationFilesItem(const TCDFiles& CDFiles) {
  TStreamItem item;
  item.Source = TStreamItem::TSource::CompilationFiles;
  item.Size = std::uint64_t{CDFiles.FilesSize} * kStreamSectorBytes;
  item.Sector = CDFiles.FirstDataSector;
  return item;
}

// False, with error 2 naming the entry, when its data cannot be streamed:
// found before the write starts rather than part-way through it.
[[nodiscard]] bool EntryCanStream(TCDFiles& CDFiles, const TFileEntry& Entry) {
  if (Entry.Extras.get().mfcbFunction) {
    if (static_cast<std::uint64_t>(Entry.FileSize) < kMaxMemoryFileBytes) return true;
    RecordFileError(CDFiles, erFileOpen, Entry.LongName, "a memory file must hold less than 4 GiB");
    return false;
  }
  if (HasSourcePath(Entry)) return true;
  RecordFileError(CDFiles, erFileOpen, Entry.LongName, "the entry has no source file");
  return false;
}

}  // namespace

bool StreamPlanIsConsistent(const TStreamPlan& Plan) {
  std::uint64_t sector = 0;
  for (const TStreamItem& item : Plan.Items) {
    if (item.Sector != sector) return false;
    sector += SectorsOf(item.Size);
  }
  const std::uint64_t closing = Plan.FinishLastSector ? 1 : 0;
  return Plan.TotalSectors % kPacketSectors == 0 && sector + closing <= Plan.TotalSectors &&
         Plan.TotalSectors - sector - closing < kPacketSectors;
}

bool PlanSessionStream(TCDFiles& CDFiles, TStreamPlan& Plan) {
  Plan = {};
  Plan.TotalSectors = CDFiles.TotalImageSize;
  Plan.Items.push_back(HeaderItem(CDFiles));
  if (!CDFiles.BootImage.empty()) Plan.Items.push_back(BootImageItem(CDFiles));
  if (CDFiles.UDFBridge) {
    Plan.Items.push_back(UDFFileStructuresItem(CDFiles));
    Plan.FinishLastSector = UDFClosingAnchor(CDFiles);
  }
  for (const auto& entry : CDFiles.Files) {
    if (HasNewData(*entry) && !EntryCanStream(CDFiles, *entry)) return false;
  }
  Plan.Items.push_back(CompilationFilesItem(CDFiles));
  if (!StreamPlanIsConsistent(Plan)) {
    RecordError(CDFiles, erNotPrepared);
    return false;
  }
  return true;
}

}  // namespace kilnor
