#include "engine/image/UDFBridge.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <unordered_set>

#include "engine/image/Directories.h"
#include "engine/image/ECMA_167.h"
#include "engine/image/OSTA_UDF_150.h"
#include "engine/image/Tree.h"
#include "engine/image/UDFTime.h"
#include "engine/image/UDFUnicode.h"
#include "engine/image/UDFUtils.h"
#include "engine/platform/CaseMapping.h"
#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

// A file identifier's length is one byte.
constexpr std::size_t kMaxIdentifierBytes = 255;
// The parent entry that begins every directory's data.
constexpr std::uint64_t kParentIdentifierBytes = FileIdentifierDescriptorBytes(0);
constexpr std::uint32_t kSectorsPerPacket = 32;
constexpr std::uint64_t kFirstUniqueID = 16;
constexpr std::uint32_t kSequenceBytes = kUDFSequenceSectors * kUDFBlockBytes;
constexpr std::uint32_t kFileSetExtentBytes = 2 * kUDFBlockBytes;
constexpr std::uint32_t kIntegrityExtentBytes = 4 * kUDFBlockBytes;
constexpr std::uint64_t kLastAddressableSector = std::numeric_limits<std::uint32_t>::max();

// The fixed volume set identifier: compression id 8 and eight characters.
constexpr std::array<std::uint8_t, 9> kVolumeSetIdentifier = {8, '0', 'C', 'F', 'E', '9', '0', 'C', 'B'};

// The name an entry carries in the UDF tree: a subdirectory's own name, a
// file's name as first inserted.
std::u16string_view RecordedName(const TFileEntry& entry) {
  if (entry.DirRecord && !entry.DirRecord->LongName.empty()) return entry.DirRecord->LongName;
  return WindowsName(entry);
}

bool FitsIdentifier(std::u16string_view name) {
  return !name.empty() && ChooseCompression(name, kMaxIdentifierBytes).has_value();
}

// The name the entry's identifier descriptor holds.
std::u16string_view IdentifierName(const UDFBridgeInformation& info, const TFileEntry& entry) {
  const auto shortened = info.ShortenedNames.find(&entry);
  return shortened != info.ShortenedNames.end() ? std::u16string_view(shortened->second)
                                                 : RecordedName(entry);
}

std::size_t IdentifierBytes(std::u16string_view name) {
  return CompressedLength(name, *ChooseCompression(name, kMaxIdentifierBytes));
}

// Names in a directory are told apart the way the compilation keeps them
// unique: by their upper-case forms.
std::u16string UpperCased(std::u16string_view name) {
  std::u16string upper(name);
  for (char16_t& unit : upper) unit = UpCaseChar(unit);
  return upper;
}

std::string Quoted(std::u16string_view name) { return "\"" + Utf16ToUtf8(name) + "\""; }

// Whether a name is recorded as it is: it fits an identifier and holds
// nothing RecordableName replaces.
bool KeepsItsName(std::u16string_view name) { return FitsIdentifier(name) && RecordableName(name) == name; }

// Names that no identifier holds, or that hold control characters or bytes
// that were not UTF-8, get a new form: the replaced name when it fits and is
// free, else a shortened form marked ~n. New forms are unique in the
// directory under the same case-insensitive comparison as its long names.
void RenameUnrecordableNames(UDFBridgeInformation& info, const TDirEntry& dir) {
  std::vector<const TFileEntry*> renamed;
  for (const TFileEntry* e = dir.Files; e; e = e->NextFile) {
    if (!KeepsItsName(RecordedName(*e))) renamed.push_back(e);
  }
  if (renamed.empty()) return;
  std::unordered_set<std::u16string> taken;
  for (const TFileEntry* e = dir.Files; e; e = e->NextFile) {
    if (KeepsItsName(RecordedName(*e))) taken.insert(UpperCased(RecordedName(*e)));
  }
  for (const TFileEntry* e : renamed) {
    std::u16string candidate = RecordableName(RecordedName(*e));
    for (std::uint32_t number = 1; !FitsIdentifier(candidate) || !taken.insert(UpperCased(candidate)).second;
         ++number) {
      candidate = ShortenedName(RecordableName(RecordedName(*e)), kMaxIdentifierBytes, number);
    }
    info.ShortenedNames.emplace(e, std::move(candidate));
  }
}

std::uint64_t ExtentsFor(std::uint64_t bytes) {
  return (bytes + kMaxShortAdExtentBytes - 1) / kMaxShortAdExtentBytes;
}

TUDFStatus CheckDescribable(const TFileEntry& entry) {
  if (entry.FileSize < 0 || ExtentsFor(static_cast<std::uint64_t>(entry.FileSize)) > kMaxFileEntryExtents) {
    return {"The UDF bridge cannot record " + Quoted(RecordedName(entry)) +
            ": the file is too large for one UDF file entry"};
  }
  return {};
}

// Lays out one directory when the walk enters it: its identifiers, its file
// entry and its data blocks.
void EnterDirectory(UDFBridgeInformation& info, TDirEntry& dir, std::uint64_t& next) {
  RenameUnrecordableNames(info, dir);
  UDFDirectoryInformation& d = dir.UDFDirInfo;
  d.FileLinkCount = 1;
  d.InformationLength = kParentIdentifierBytes;
  for (const TFileEntry* e = dir.Files; e; e = e->NextFile) {
    if (e->DirRecord) {
      ++d.FileLinkCount;
      ++info.NumberOfDirectories;
    } else {
      ++info.NumberOfFiles;
    }
    d.InformationLength += FileIdentifierDescriptorBytes(IdentifierBytes(IdentifierName(info, *e)));
  }
  d.DirICB_LSOffsetWRTSession = static_cast<std::uint32_t>(next++);
  d.DirData_LSOffsetWRTSession = static_cast<std::uint32_t>(next);
  next += BlocksFor(d.InformationLength);
}

// Absolute sector of the recorded data of a file of one byte or more, for a
// session starting at sessionStart.
std::uint64_t DataSectorOf(const TCDFiles& cd, const TFileEntry& entry, std::uint32_t sessionStart) {
  const TFileEntry& owner = DataOwner(entry);
  if (owner.Imported) return owner.Address;
  return std::uint64_t{cd.UDFBridgeInfo.ISODataPortionStarting_LSAWRTSession} + owner.Address + sessionStart;
}

const TEntityIdentifier& OurImplementation() {
  static const TEntityIdentifier identifier = ImplementationIdentifier();
  return identifier;
}

TUDFStatus CheckSessionStart(const TCDFiles& cd, std::uint32_t sessionStart) {
  if (std::uint64_t{sessionStart} + cd.UDFBridgeInfo.LastAnchorVolumeDescriptorPointer_LSAWRTSession >
      kLastAddressableSector) {
    return {"The UDF bridge cannot be recorded: the session ends past the last addressable sector"};
  }
  return {};
}

// The six descriptors of a volume descriptor sequence.
TPrimaryVolumeDescriptor MakePrimaryVolumeDescriptor(const UDFBridgeInformation& info) {
  TPrimaryVolumeDescriptor d;
  d.VolumeDescriptorSequenceNumber = 1;
  d.VolumeIdentifier = info.VolumeIdentifier;
  d.VolumeSequenceNumber = 1;
  d.MaximumVolumeSequenceNumber = 1;
  d.InterchangeLevel = 2;
  d.MaximumInterchangeLevel = 3;
  d.CharacterSetList = 1;
  d.MaximumCharacterSetList = 1;
  d.VolumeSetIdentifier = DStringFromCS0<128>(kVolumeSetIdentifier);
  d.DescriptorCharacterSet = OSTACompressedUnicode();
  d.ExplanatoryCharacterSet = OSTACompressedUnicode();
  d.RecordingDateAndTime = info.UDFTimeStamp;
  d.ImplementationIdentifier = OurImplementation();
  return d;
}

TDString<128> LogicalVolumeIdentifier(const UDFBridgeInformation& info) {
  const std::uint8_t used = info.VolumeIdentifier.back();
  return DStringFromCS0<128>(std::span(info.VolumeIdentifier).first(used));
}

std::uint32_t PartitionLength(const UDFBridgeInformation& info, std::uint32_t sessionStart) {
  return sessionStart + info.LengthOfPartitionPortionInSession_LBS;
}

std::uint32_t FileSetLBN(const UDFBridgeInformation& info, std::uint32_t sessionStart) {
  return sessionStart + kUDFFileSetSector - info.PartitionStarting_LSA;
}

TLogicalVolumeDescriptor MakeLogicalVolumeDescriptor(const UDFBridgeInformation& info,
                                                     std::uint32_t sessionStart) {
  TLogicalVolumeDescriptor d;
  d.VolumeDescriptorSequenceNumber = 2;
  d.DescriptorCharacterSet = OSTACompressedUnicode();
  d.LogicalVolumeIdentifier = LogicalVolumeIdentifier(info);
  d.LogicalBlockSize = kUDFBlockBytes;
  d.DomainIdentifier = DomainIdentifier(kDomainWriteProtected);
  d.FileSetDescriptorLocation.ExtentLength = kFileSetExtentBytes;
  d.FileSetDescriptorLocation.ExtentLocation.LogicalBlockNumber = FileSetLBN(info, sessionStart);
  d.ImplementationIdentifier = OurImplementation();
  d.IntegritySequenceExtent = {kIntegrityExtentBytes, sessionStart + kUDFIntegritySector};
  d.MapVolumeSequenceNumber = 1;
  d.MapPartitionNumber = 0;
  return d;
}

TPartitionDescriptor MakePartitionDescriptor(const UDFBridgeInformation& info, std::uint32_t sessionStart) {
  TPartitionDescriptor d;
  d.VolumeDescriptorSequenceNumber = 3;
  d.PartitionFlags = 1;                 // allocated
  d.PartitionNumber = 0;
  d.PartitionContents = PartitionContentsIdentifier();
  d.AccessType = 1;                     // read only
  d.PartitionStartingLocation = info.PartitionStarting_LSA;
  d.PartitionLength = PartitionLength(info, sessionStart);
  d.ImplementationIdentifier = OurImplementation();
  return d;
}

TImplementationUseVolumeDescriptor MakeImplementationUseDescriptor(const UDFBridgeInformation& info) {
  TImplementationUseVolumeDescriptor d;
  d.VolumeDescriptorSequenceNumber = 5;
  d.ImplementationIdentifier = LogicalVolumeInfoIdentifier();
  d.LVICharset = OSTACompressedUnicode();
  d.LogicalVolumeIdentifier = LogicalVolumeIdentifier(info);
  d.LVInfoImplementationID = OurImplementation();
  return d;
}

TLogicalVolumeIntegrityDescriptor MakeIntegrityDescriptor(const UDFBridgeInformation& info,
                                                          std::uint32_t sessionStart) {
  TLogicalVolumeIntegrityDescriptor d;
  d.RecordingDateAndTime = info.UDFTimeStamp;
  d.IntegrityType = 1;                  // close
  d.UniqueID = std::uint64_t{info.NumberOfDirectories} + info.NumberOfFiles + kFirstUniqueID;
  d.FreeSpace = 0;
  d.Size = PartitionLength(info, sessionStart);
  d.ImplementationID = OurImplementation();
  d.NumberOfFiles = info.NumberOfFiles;
  d.NumberOfDirectories = info.NumberOfDirectories;
  d.MinimumUDFReadRevision = kUDFRevision;
  d.MinimumUDFWriteRevision = kUDFRevision;
  d.MaximumUDFWriteRevision = kUDFRevision;
  return d;
}

TFileSetDescriptor MakeFileSetDescriptor(const TCDFiles& cd, std::uint32_t sessionStart) {
  const UDFBridgeInformation& info = cd.UDFBridgeInfo;
  TFileSetDescriptor d;
  d.RecordingDateAndTime = info.UDFTimeStamp;
  d.InterchangeLevel = 3;
  d.MaximumInterchangeLevel = 3;
  d.CharacterSetList = 1;
  d.MaximumCharacterSetList = 1;
  d.LogicalVolumeIdentifierCharacterSet = OSTACompressedUnicode();
  d.LogicalVolumeIdentifier = LogicalVolumeIdentifier(info);
  d.FileSetCharacterSet = OSTACompressedUnicode();
  d.FileSetIdentifier = info.VolumeIdentifier;
  d.RootDirectoryICB.ExtentLength = kUDFBlockBytes;
  d.RootDirectoryICB.ExtentLocation.LogicalBlockNumber =
      sessionStart + cd.RootDir->UDFDirInfo.DirICB_LSOffsetWRTSession - info.PartitionStarting_LSA;
  d.DomainIdentifier = DomainIdentifier(0);
  return d;
}

// Writes a descriptor into its sector; false when it does not fit.
template <class Record>
[[nodiscard]] bool PutDescriptor(std::span<std::uint8_t> sector, const Record& record, std::uint32_t location) {
  return WriteDescriptor(sector, record, location).has_value();
}

// The content of one sector of the volume area; false for a zero sector.
[[nodiscard]] bool FillVolumeSector(const TCDFiles& cd, std::uint32_t sessionStart, std::uint32_t sector,
                                    std::span<std::uint8_t, kUDFBlockBytes> out) {
  const UDFBridgeInformation& info = cd.UDFBridgeInfo;
  const std::uint32_t at = sessionStart + sector;
  const std::uint32_t recognition = info.VolumeRecognitionSequence_LSAWRTSession;
  if (sector >= recognition && sector < recognition + 3) {
    constexpr std::array<std::string_view, 3> kIds = {kBeginExtendedArea, kNSRDescriptor, kTerminateExtendedArea};
    TVolumeStructureDescriptor d;
    const std::string_view id = kIds[sector - recognition];
    std::copy(id.begin(), id.end(), d.StandardIdentifier.begin());
    TByteWriter writer(out);
    Emit(writer, d);
    return true;
  }
  for (const std::uint32_t sequence : {kUDFMainSequenceSector, kUDFReserveSequenceSector}) {
    switch (sector - sequence) {
      case 0: return PutDescriptor(out, MakePrimaryVolumeDescriptor(info), at);
      case 1: return PutDescriptor(out, MakeLogicalVolumeDescriptor(info, sessionStart), at);
      case 2: return PutDescriptor(out, MakePartitionDescriptor(info, sessionStart), at);
      case 3: return PutDescriptor(out, TUnallocatedSpaceDescriptor{4}, at);
      case 4: return PutDescriptor(out, MakeImplementationUseDescriptor(info), at);
      case 5: return PutDescriptor(out, TTerminatingDescriptor{}, at);
      default: break;
    }
  }
  switch (sector) {
    case kUDFIntegritySector: return PutDescriptor(out, MakeIntegrityDescriptor(info, sessionStart), at);
    case kUDFIntegritySector + 1: return PutDescriptor(out, TTerminatingDescriptor{}, at);
    case kUDFAnchorSector: BuildAnchorPointer(out, cd, sessionStart, sector); return true;
    case kUDFFileSetSector:
      return PutDescriptor(out, MakeFileSetDescriptor(cd, sessionStart), FileSetLBN(info, sessionStart));
    case kUDFFileSetSector + 1:
      return PutDescriptor(out, TTerminatingDescriptor{}, FileSetLBN(info, sessionStart) + 1);
    default: return false;
  }
}

}  // namespace

std::uint32_t InitUDFVolumeLayout(TCDFiles& cd, std::uint32_t recognitionSector,
                                  std::chrono::system_clock::time_point now) {
  UDFBridgeInformation& info = cd.UDFBridgeInfo;
  info = UDFBridgeInformation{};
  const std::u16string_view label(cd.VolumeLabelW,
                                  std::find(std::begin(cd.VolumeLabelW), std::end(cd.VolumeLabelW), u'\0'));
  info.VolumeIdentifier = MakeDString<32>(RecordableName(label));
  info.UDFTimeStamp = MakeUDFTimestamp(now, cd.TimeZoneDifference * 15);
  info.NumberOfDirectories = 1;
  assert(recognitionSector <= kUDFLatestRecognitionSector);
  info.VolumeRecognitionSequence_LSAWRTSession = recognitionSector;
  info.PartitionStarting_LSA = kUDFDefaultPartitionStart;
  return kUDFVolumeAreaEnd;
}

TUDFStatus LayoutUDFFileStructures(TCDFiles& cd, std::uint32_t first) {
  UDFBridgeInformation& info = cd.UDFBridgeInfo;
  if (cd.RootDir == nullptr) return {"The UDF bridge needs a compilation with a root directory"};
  info.ShortenedNames.clear();
  info.NumberOfDirectories = 1;
  info.NumberOfFiles = 0;
  info.RootDirectoryICB_LSAWRTSession = first;
  std::uint64_t lowestData = kUDFDefaultPartitionStart;
  std::uint64_t next = first;

  struct TFrame {
    TDirEntry* Dir;
    TFileEntry* Next;
  };
  std::vector<TFrame> stack;
  EnterDirectory(info, *cd.RootDir, next);
  stack.push_back({cd.RootDir, cd.RootDir->Files});
  while (!stack.empty()) {
    TFileEntry* entry = stack.back().Next;
    if (entry == nullptr) {
      stack.pop_back();
      continue;
    }
    stack.back().Next = entry->NextFile;
    if (entry->DirRecord) {
      EnterDirectory(info, *entry->DirRecord, next);
      stack.push_back({entry->DirRecord, entry->DirRecord->Files});
      continue;
    }
    if (TUDFStatus status = CheckDescribable(*entry); !status.ok()) return status;
    entry->UDFFileInfo.FileICB_LSOffsetWRTSession = static_cast<std::uint32_t>(next++);
    if (entry->FileSize > 0 && DataOwner(*entry).Imported) {
      lowestData = std::min<std::uint64_t>(lowestData, DataOwner(*entry).Address);
    }
  }
  if (next > kLastAddressableSector) return {"The UDF bridge cannot be recorded: the session is too large"};
  info.NumberOfBlocksRequiredForFileDirStructures = static_cast<std::uint32_t>(next - first);
  info.PartitionStarting_LSA = static_cast<std::uint32_t>(lowestData);
  return {};
}

void FinishUDFLayout(TCDFiles& cd, std::uint32_t firstDataSector, std::uint32_t lastSector) {
  UDFBridgeInformation& info = cd.UDFBridgeInfo;
  info.ISODataPortionStarting_LSAWRTSession = firstDataSector;
  info.LastAnchorVolumeDescriptorPointer_LSAWRTSession = lastSector;
  info.LengthOfPartitionPortionInSession_LBS = lastSector - info.PartitionStarting_LSA;
  info.IsNewPacketRequiredForLastAVDP = (firstDataSector + cd.FilesSize) % kSectorsPerPacket == 0;
}

std::uint32_t UDFVolumeAreaSectors(const TCDFiles& cd) {
  return kUDFVolumeAreaEnd - cd.UDFBridgeInfo.VolumeRecognitionSequence_LSAWRTSession;
}

TUDFStatus WriteUDFVolumeStructures(const TCDFiles& cd, std::uint32_t sessionStart, TByteWriter& out) {
  if (TUDFStatus status = CheckSessionStart(cd, sessionStart); !status.ok()) return status;
  if (cd.RootDir == nullptr) return {"The UDF volume structures need a compilation with a root directory"};
  std::array<std::uint8_t, kUDFBlockBytes> sector;
  for (std::uint32_t s = cd.UDFBridgeInfo.VolumeRecognitionSequence_LSAWRTSession; s < kUDFVolumeAreaEnd; ++s) {
    sector.fill(0);
    if (FillVolumeSector(cd, sessionStart, s, sector))
      out.put_bytes(sector);
    else
      out.put_zeros(kUDFBlockBytes);
  }
  if (!out.ok()) return {"The UDF volume structures do not fit the header laid out for them"};
  return {};
}

void BuildAnchorPointer(std::span<std::uint8_t, kUDFBlockBytes> sector, const TCDFiles&,
                        std::uint32_t sessionStart, std::uint32_t sessionSector) {
  std::fill(sector.begin(), sector.end(), std::uint8_t{0});
  TAnchorVolumeDescriptorPointer d;
  d.MainVolumeDescriptorSequenceExtent = {kSequenceBytes, sessionStart + kUDFMainSequenceSector};
  d.ReserveVolumeDescriptorSequenceExtent = {kSequenceBytes, sessionStart + kUDFReserveSequenceSector};
  (void)WriteDescriptor(std::span<std::uint8_t>(sector), d, sessionStart + sessionSector);
}

TUDFFileStructureGenerator::TUDFFileStructureGenerator(const TCDFiles& cd, std::uint32_t sessionStart)
    : cd_(cd), sessionStart_(sessionStart) {}

std::uint32_t TUDFFileStructureGenerator::ToLBN(std::uint64_t sessionSector) const {
  return static_cast<std::uint32_t>(sessionStart_ + sessionSector - cd_.UDFBridgeInfo.PartitionStarting_LSA);
}

TUDFStatus TUDFFileStructureGenerator::Begin() {
  if (!cd_.Prepared || !cd_.UDFBridge || cd_.RootDir == nullptr) {
    return {"The UDF file structures cannot be generated: the compilation is not prepared with the UDF bridge"};
  }
  if (TUDFStatus status = CheckSessionStart(cd_, sessionStart_); !status.ok()) return status;
  stack_.assign(1, TFrame{cd_.RootDir, nullptr});
  nextUniqueID_ = kFirstUniqueID;
  state_ = TState::WritingDirICB;
  return {};
}

TUDFStatus TUDFFileStructureGenerator::Generate(std::span<std::uint8_t> sectors) {
  if (sectors.size() % kUDFBlockBytes != 0) return {"The UDF file structures are generated in whole sectors"};
  if (state_ == TState::Start) {
    if (TUDFStatus status = Begin(); !status.ok()) return status;
  }
  for (std::size_t at = 0; at < sectors.size(); at += kUDFBlockBytes) {
    const auto sector = sectors.subspan(at, kUDFBlockBytes);
    std::fill(sector.begin(), sector.end(), std::uint8_t{0});
    TUDFStatus status;
    switch (state_) {
      case TState::WritingDirICB: status = WriteDirectoryEntry(sector); break;
      case TState::WritingDirData: status = WriteDirectoryData(sector); break;
      case TState::WritingFileICB: status = WriteFileEntry(sector); break;
      case TState::Start:
      case TState::Done:
        status.Error = "More UDF file structure sectors were requested than were laid out";
        break;
    }
    if (!status.ok()) return status;
  }
  return {};
}

namespace {

// One file entry filling its block; extents of `length` bytes from `dataLBN`.
TUDFStatus PutFileEntry(std::span<std::uint8_t> sector, const UDFBridgeInformation& info, std::uint32_t lbn,
                        TUDFFileType type, std::uint16_t linkCount, std::uint64_t length,
                        std::uint64_t dataLBN, std::uint64_t uniqueID, std::u16string_view name) {
  std::array<TShortAd, kMaxFileEntryExtents> extents{};
  std::size_t count = 0;
  if (length > 0) {
    const auto split = dataLBN <= kLastAddressableSector
                           ? SplitIntoExtents(length, static_cast<std::uint32_t>(dataLBN), extents)
                           : std::nullopt;
    if (!split) return {"The UDF bridge cannot address the data of " + Quoted(name)};
    count = *split;
  }
  TUDFFileEntry fe;
  fe.ICBTag.StrategyType = kICBStrategy4;
  fe.ICBTag.MaximumNumberOfEntries = 1;
  fe.ICBTag.FileType = type;
  fe.Uid = 0xFFFFFFFF;
  fe.Gid = 0xFFFFFFFF;
  fe.Permissions = kReadExecuteForAll;
  fe.FileLinkCount = linkCount;
  fe.InformationLength = length;
  fe.LogicalBlocksRecorded = BlocksFor(length);
  fe.AccessTime = fe.ModificationTime = fe.AttributeTime = info.UDFTimeStamp;
  fe.Checkpoint = 1;
  fe.ImplementationIdentifier = OurImplementation();
  fe.UniqueID = uniqueID;
  fe.AllocationDescriptors = std::span(extents).first(count);
  if (!WriteDescriptor(sector, fe, lbn)) return {"The UDF file entry of " + Quoted(name) + " does not fit its block"};
  return {};
}

}  // namespace

TUDFStatus TUDFFileStructureGenerator::WriteDirectoryEntry(std::span<std::uint8_t> sector) {
  const TDirEntry& dir = *stack_.back().Dir;
  const UDFDirectoryInformation& d = dir.UDFDirInfo;
  const bool isRoot = &dir == cd_.RootDir;
  const std::uint64_t uniqueID = isRoot ? 0 : nextUniqueID_++;
  TUDFStatus status = PutFileEntry(sector, cd_.UDFBridgeInfo, ToLBN(d.DirICB_LSOffsetWRTSession), ftDirectory,
                                   d.FileLinkCount, d.InformationLength, ToLBN(d.DirData_LSOffsetWRTSession),
                                   uniqueID, dir.LongName);
  if (!status.ok()) return status;
  state_ = TState::WritingDirData;
  parentPending_ = true;
  nextIdentifier_ = dir.Files;
  blockOffset_ = 0;
  fidSize_ = fidEmitted_ = 0;
  return {};
}

bool TUDFFileStructureGenerator::BuildNextIdentifier(std::uint32_t blockLBN) {
  const TDirEntry& dir = *stack_.back().Dir;
  TFileIdentifierDescriptor fid;
  fid.FileVersionNumber = 1;
  fid.ICB.ExtentLength = kUDFBlockBytes;
  std::array<std::uint8_t, kMaxIdentifierBytes> name{};
  if (parentPending_) {
    parentPending_ = false;
    const TDirEntry& parent = dir.Parent ? *dir.Parent : dir;
    fid.FileCharacteristics = fcParent;
    fid.ICB.ExtentLocation.LogicalBlockNumber = ToLBN(parent.UDFDirInfo.DirICB_LSOffsetWRTSession);
  } else if (nextIdentifier_ != nullptr) {
    const TFileEntry& entry = *nextIdentifier_;
    nextIdentifier_ = entry.NextFile;
    fid.FileCharacteristics = entry.DirRecord ? fcDirectory : fcFile;
    fid.ICB.ExtentLocation.LogicalBlockNumber =
        ToLBN(entry.DirRecord ? entry.DirRecord->UDFDirInfo.DirICB_LSOffsetWRTSession
                              : entry.UDFFileInfo.FileICB_LSOffsetWRTSession);
    const std::u16string_view text = IdentifierName(cd_.UDFBridgeInfo, entry);
    const std::size_t used = CompressUnicode(text, *ChooseCompression(text, kMaxIdentifierBytes), name);
    fid.FileIdentifier = std::span<const std::uint8_t>(name).first(used);
  } else {
    return false;
  }
  fidSize_ = WriteDescriptor(std::span(fidContainer_), fid, blockLBN).value_or(0);
  fidEmitted_ = 0;
  return true;
}

TUDFStatus TUDFFileStructureGenerator::WriteDirectoryData(std::span<std::uint8_t> sector) {
  const TDirEntry& dir = *stack_.back().Dir;
  const UDFDirectoryInformation& d = dir.UDFDirInfo;
  const std::uint32_t blockLBN = ToLBN(std::uint64_t{d.DirData_LSOffsetWRTSession} + blockOffset_);
  std::size_t filled = 0;
  for (;;) {
    const std::size_t piece = std::min(fidSize_ - fidEmitted_, kUDFBlockBytes - filled);
    std::copy_n(fidContainer_.begin() + static_cast<std::ptrdiff_t>(fidEmitted_), piece,
                sector.begin() + static_cast<std::ptrdiff_t>(filled));
    fidEmitted_ += piece;
    filled += piece;
    if (filled == kUDFBlockBytes || !BuildNextIdentifier(blockLBN)) break;
  }
  ++blockOffset_;
  const bool complete = fidEmitted_ == fidSize_ && !parentPending_ && nextIdentifier_ == nullptr;
  const std::uint64_t laidOut = BlocksFor(d.InformationLength);
  if ((complete && blockOffset_ != laidOut) || (!complete && blockOffset_ >= laidOut)) {
    return {"The UDF directory data of " + Quoted(dir.LongName) + " does not match its laid-out length"};
  }
  if (complete) {
    stack_.back().Next = dir.Files;
    AdvanceToNextEntry();
  }
  return {};
}

TUDFStatus TUDFFileStructureGenerator::WriteFileEntry(std::span<std::uint8_t> sector) {
  const TFileEntry& entry = *currentFile_;
  const UDFBridgeInformation& info = cd_.UDFBridgeInfo;
  const auto length = static_cast<std::uint64_t>(std::max<std::int64_t>(entry.FileSize, 0));
  std::uint64_t dataLBN = 0;
  if (length > 0) {
    const std::uint64_t first = DataSectorOf(cd_, entry, sessionStart_);
    const std::uint64_t partitionEnd = std::uint64_t{sessionStart_} + info.LastAnchorVolumeDescriptorPointer_LSAWRTSession;
    if (first < info.PartitionStarting_LSA || first + BlocksFor(length) > partitionEnd) {
      return {"The UDF bridge cannot record " + Quoted(RecordedName(entry)) +
              ": its data lies outside the UDF partition"};
    }
    dataLBN = first - info.PartitionStarting_LSA;
  }
  TUDFStatus status = PutFileEntry(sector, info, ToLBN(entry.UDFFileInfo.FileICB_LSOffsetWRTSession), ftFile, 1,
                                   length, dataLBN, nextUniqueID_++, RecordedName(entry));
  if (!status.ok()) return status;
  AdvanceToNextEntry();
  return {};
}

void TUDFFileStructureGenerator::AdvanceToNextEntry() {
  while (!stack_.empty()) {
    TFrame& frame = stack_.back();
    const TFileEntry* entry = frame.Next;
    if (entry == nullptr) {
      stack_.pop_back();
      continue;
    }
    frame.Next = entry->NextFile;
    if (entry->DirRecord) {
      stack_.push_back({entry->DirRecord, nullptr});
      state_ = TState::WritingDirICB;
      return;
    }
    currentFile_ = entry;
    state_ = TState::WritingFileICB;
    return;
  }
  state_ = TState::Done;
}

}  // namespace kilnor
