#include "engine/image/Directories.h"

#include <optional>

#include "engine/image/Identifiers.h"
#include "engine/image/RecordingDates.h"
#include "engine/image/RockRidge.h"

namespace kilnor {
namespace {

// ECMA-119 9.1: 33 bytes up to the identifier, then the identifier and a
// padding byte that keeps the record length even.
constexpr std::uint32_t kRecordHeadBytes = 33;
static_assert(kRecordHeadBytes + 1 == kRootRecordBytes, "a root record carries one identifier byte");
static_assert(kRecordHeadBytes + 2 * kMaxJolietNameUnits + 1 <= 255, "a Joliet record fits its length byte");
static_assert(kRecordHeadBytes + kMaxIso1999IdentifierBytes + 1 <= 255, "an ISO 9660:1999 record fits its length byte");

constexpr std::uint8_t kFlagHidden = 0x01;
constexpr std::uint8_t kFlagDirectory = 0x02;
constexpr std::uint8_t kFlagMultiExtent = 0x80;
constexpr std::uint32_t kSectorsPerMaxExtent = static_cast<std::uint32_t>(kMaxExtentBytes / kSectorSize);
// Longest chain of twins followed; smart references point at the first copy.
constexpr int kMaxTwinChain = 64;

constexpr std::uint32_t kMaxRecordBytes = 255;

// Places records one after the other, after the dot records, and begins a new
// sector for a record that would cross the end of the current one.
class TRecordPacker {
 public:
  explicit TRecordPacker(std::uint32_t dotRecordsBytes) : used_(dotRecordsBytes) {}
  std::uint32_t Place(std::uint32_t length) {
    if (length > kSectorSize - used_) {
      ++sectors_;
      used_ = 0;
    }
    const std::uint32_t offset = (sectors_ - 1) * kSectorSize + used_;
    used_ += length;
    return offset;
  }
  [[nodiscard]] std::uint32_t sectors() const { return sectors_; }

 private:
  std::uint32_t sectors_ = 1;
  std::uint32_t used_;
};

std::uint32_t IdentifierBytes(const TFileEntry& entry, TTree tree) {
  return tree == TTree::ISO ? static_cast<std::uint32_t>(entry.IdentifierISO.size())
                            : static_cast<std::uint32_t>(2 * JolietIdentifier(entry).size());
}

std::uint8_t RecordLength(std::uint32_t identifierBytes) {
  return static_cast<std::uint8_t>(kRecordHeadBytes + identifierBytes + (identifierBytes % 2 == 0 ? 1 : 0));
}

// Bytes a record of `length` bytes so far leaves for its fields, an even
// number so that the record's length stays even.
std::uint32_t FieldRoom(std::uint32_t length) { return (kMaxRecordBytes - length) & ~1u; }

// The Rock Ridge fields of a directory's records, when its tree has them.
std::optional<TSystemUse> SystemUseOf(const TCDFiles& cd, const TDirEntry& dir, TTree tree,
                                      TStaging contents = TStaging::Contents) {
  if (tree != TTree::ISO || !cd.RockRidge) return std::nullopt;
  return std::optional<TSystemUse>(std::in_place, cd, dir, contents);
}

// Lengths of the "." and ".." records, their fields staged one after the other.
std::uint8_t StagedSelfLength(std::optional<TSystemUse>& systemUse) {
  return static_cast<std::uint8_t>(kRootRecordBytes + (systemUse ? systemUse->StageSelf(FieldRoom(kRootRecordBytes)) : 0));
}
std::uint8_t StagedParentLength(std::optional<TSystemUse>& systemUse) {
  return static_cast<std::uint8_t>(kRootRecordBytes + (systemUse ? systemUse->StageParent(FieldRoom(kRootRecordBytes)) : 0));
}

// Calls visit(entry, extentIndex, recordLength) for every record after the
// dot records, in list order, each record's fields staged first.
template <class Visit>
void ForEachRecord(const TDirEntry& dir, TTree tree, std::optional<TSystemUse>& systemUse, Visit&& visit) {
  for (const TFileEntry* e = dir.Files; e != nullptr; e = e->NextFile) {
    const std::uint8_t base = RecordLength(IdentifierBytes(*e, tree));
    const std::uint32_t extents = e->DirRecord ? 1 : ExtentCount(e->FileSize);
    for (std::uint32_t k = 0; k < extents; ++k) {
      const std::uint32_t fields = systemUse ? systemUse->StageEntry(*e, FieldRoom(base)) : 0;
      visit(*e, k, static_cast<std::uint8_t>(base + fields));
    }
  }
}

struct TRecordFields {
  std::uint8_t Length = 0;
  std::uint32_t Extent = 0;
  std::uint32_t DataLength = 0;
  const TSystemTime* Date = nullptr;
  std::uint8_t Flags = 0;
  std::uint8_t IdentifierLength = 0;
};

// Everything of a record up to its identifier.
void PutRecordHead(TByteWriter& out, const TRecordFields& r) {
  out.put_u8(r.Length);
  out.put_u8(0);
  out.put_both32(r.Extent);
  out.put_both32(r.DataLength);
  PutDirectoryDate(out, *r.Date);
  out.put_u8(r.Flags);
  out.put_u8(0);
  out.put_u8(0);
  out.put_both16(1);
  out.put_u8(r.IdentifierLength);
}

// A directory's date: that of its entry in the parent; the root, which has
// none, takes the volume's.
const TSystemTime& DirectoryDate(const TCDFiles& cd, const TDirEntry& dir) {
  return dir.OwnEntry != nullptr ? dir.OwnEntry->Time : cd.VolumeTime;
}

void PutDotRecord(TByteWriter& out, const TCDFiles& cd, const TDirEntry& dir, TTree tree, std::uint8_t id,
                  std::uint8_t length) {
  PutRecordHead(out, {length, DirectorySector(cd, dir, tree),
                      static_cast<std::uint32_t>(tree == TTree::ISO ? dir.DirSize : dir.DirSizeJ),
                      &DirectoryDate(cd, dir), kFlagDirectory, 1});
  out.put_u8(id);
}

std::uint32_t DataSector(const TCDFiles& cd, const TFileEntry& entry, std::uint32_t extentIndex) {
  if (entry.FileSize <= 0) return 0;
  const TFileEntry& owner = DataOwner(entry);
  const std::uint32_t first = owner.Imported ? owner.Address : cd.FirstDataSector + owner.Address + cd.FirstWritableSector;
  return first + extentIndex * kSectorsPerMaxExtent;
}

std::uint32_t ExtentLength(std::int64_t fileSize, std::uint32_t extentIndex) {
  if (fileSize <= 0) return 0;
  const std::uint64_t before = std::uint64_t{extentIndex} * kMaxExtentBytes;
  const std::uint64_t rest = static_cast<std::uint64_t>(fileSize) - before;
  return static_cast<std::uint32_t>(rest < kMaxExtentBytes ? rest : kMaxExtentBytes);
}

void PutEntryRecord(TByteWriter& out, const TCDFiles& cd, const TFileEntry& e, std::uint32_t extentIndex,
                    std::uint8_t length, TTree tree) {
  TRecordFields r;
  r.Length = length;
  r.Date = &e.Time;
  r.Flags = (e.attributes & kAttributeHidden) ? kFlagHidden : 0;
  if (e.DirRecord) {
    r.Extent = DirectorySector(cd, *e.DirRecord, tree);
    r.DataLength = static_cast<std::uint32_t>(tree == TTree::ISO ? e.DirRecord->DirSize : e.DirRecord->DirSizeJ);
    r.Flags |= kFlagDirectory;
  } else {
    r.Extent = DataSector(cd, e, extentIndex);
    r.DataLength = ExtentLength(e.FileSize, extentIndex);
    if (extentIndex + 1 < ExtentCount(e.FileSize)) r.Flags |= kFlagMultiExtent;
  }
  r.IdentifierLength = static_cast<std::uint8_t>(IdentifierBytes(e, tree));
  PutRecordHead(out, r);
  if (tree == TTree::ISO)
    out.put_text(e.IdentifierISO);
  else
    out.put_ucs2(JolietIdentifier(e));
  if (r.IdentifierLength % 2 == 0) out.put_u8(0);
}

}  // namespace

std::uint32_t ExtentCount(std::int64_t fileSize) {
  if (fileSize <= 0) return 1;
  const auto size = static_cast<std::uint64_t>(fileSize);
  return static_cast<std::uint32_t>((size + kMaxExtentBytes - 1) / kMaxExtentBytes);
}

TDirectorySize MeasureDirectory(const TCDFiles& cd, const TDirEntry& dir, TTree tree) {
  std::optional<TSystemUse> systemUse = SystemUseOf(cd, dir, tree, TStaging::SizesOnly);
  const std::uint32_t dotRecords = StagedSelfLength(systemUse) + StagedParentLength(systemUse);
  TRecordPacker packer(dotRecords);
  ForEachRecord(dir, tree, systemUse, [&](const TFileEntry&, std::uint32_t, std::uint8_t length) { packer.Place(length); });
  if (!systemUse) return {packer.sectors() * kSectorSize, 0, false};
  return {packer.sectors() * kSectorSize, systemUse->ContinuationSectors(), systemUse->FieldsLost()};
}

std::uint32_t DirectorySector(const TCDFiles& cd, const TDirEntry& dir, TTree tree) {
  return tree == TTree::ISO ? cd.FileDirDescriptorExtent + dir.Address + cd.FirstWritableSector
                            : cd.file_and_dir_descriptor_extent_j + dir.AddressJ + cd.FirstWritableSector;
}

const TFileEntry& DataOwner(const TFileEntry& entry) {
  const TFileEntry* owner = &entry;
  for (int i = 0; i < kMaxTwinChain && owner->ReferenceEntry != nullptr; ++i) owner = owner->ReferenceEntry;
  return *owner;
}

void PutRootRecord(TByteWriter& out, const TCDFiles& cd, TTree tree) {
  PutDotRecord(out, cd, *cd.RootDir, tree, 0, kRootRecordBytes);
}

void WriteDirectoryExtent(TByteWriter& out, const TCDFiles& cd, const TDirEntry& dir, TTree tree) {
  std::optional<TSystemUse> systemUse = SystemUseOf(cd, dir, tree);
  const auto extentBytes = static_cast<std::uint32_t>(tree == TTree::ISO ? dir.DirSize : dir.DirSizeJ);
  out.seek(extentBytes);
  TByteWriter continuation = out.take(out.size() - extentBytes);
  const std::uint32_t firstContinuationSector = DirectorySector(cd, dir, tree) + extentBytes / kSectorSize;
  const auto putFields = [&] {
    if (systemUse) systemUse->Put(out, continuation, firstContinuationSector);
  };
  out.seek(0);
  const std::uint8_t selfLength = StagedSelfLength(systemUse);
  PutDotRecord(out, cd, dir, tree, 0, selfLength);
  putFields();
  out.seek(selfLength);
  const std::uint8_t parentLength = StagedParentLength(systemUse);
  PutDotRecord(out, cd, *dir.Parent, tree, 1, parentLength);
  putFields();
  TRecordPacker packer(selfLength + parentLength);
  ForEachRecord(dir, tree, systemUse, [&](const TFileEntry& e, std::uint32_t extentIndex, std::uint8_t length) {
    out.seek(packer.Place(length));
    PutEntryRecord(out, cd, e, extentIndex, length, tree);
    putFields();
  });
}

}  // namespace kilnor
