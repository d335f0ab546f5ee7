#include "engine/write/StreamPlan.h"

#include <memory>
#include <span>

#include "engine/image/Tree.h"
#include "engine/image/UDFBridge.h"
#include "engine/platform/Unicode.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

// A data handler's position is 32-bit, so a memory file must stay below 4 GiB.
constexpr std::uint64_t kMaxMemoryFileBytes = std::uint64_t{1} << 32;

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

// False, with error 2 naming the entry, when its data cannot be streamed.
[[nodiscard]] bool AddEntryItem(TCDFiles& CDFiles, TFileEntry& Entry, std::int32_t FileId, TStreamPlan& Plan) {
  TStreamItem item;
  item.Size = static_cast<std::uint64_t>(Entry.FileSize);
  item.Sector = std::uint64_t{CDFiles.FirstDataSector} + Entry.Address;
  item.FileId = FileId;
  if (Entry.Extras.get().mfcbFunction) {
    item.Source = TStreamItem::TSource::DataHandler;
    item.Entry = &Entry;
    item.Name = Entry.LongName;
    if (item.Size >= kMaxMemoryFileBytes) {
      RecordFileError(CDFiles, erFileOpen, Entry.LongName, "a memory file must hold less than 4 GiB");
      return false;
    }
  } else {
    item.Source = TStreamItem::TSource::File;
    const std::u16string source = SourcePath(Entry);
    item.Path = Utf16ToUtf8(source);
    item.Name = source.empty() ? Entry.LongName : source;
    if (source.empty()) {
      RecordFileError(CDFiles, erFileOpen, Entry.LongName, "the entry has no source file");
      return false;
    }
  }
  Entry.FileId = FileId;
  Plan.Items.push_back(std::move(item));
  return true;
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
  for (std::size_t i = 0; i < CDFiles.Files.size(); ++i) {
    TFileEntry& entry = *CDFiles.Files[i];
    if (HasNewData(entry) && !AddEntryItem(CDFiles, entry, static_cast<std::int32_t>(i), Plan)) return false;
  }
  if (!StreamPlanIsConsistent(Plan)) {
    RecordError(CDFiles, erNotPrepared);
    return false;
  }
  return true;
}

}  // namespace kilnor
