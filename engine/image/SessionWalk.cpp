#include "engine/image/SessionWalk.h"

#include <deque>
#include <optional>
#include <unordered_set>

#include "engine/image/DirectoryRecords.h"
#include "engine/image/RockRidgeRecords.h"
#include "engine/platform/LocalTime.h"
#include "engine/platform/Unicode.h"

namespace kilnor {
namespace {

// Directories are read this many sectors a command.
constexpr std::uint32_t kChunkSectors = 32;

struct TPendingDirectory {
  std::uint32_t Extent = 0;
  std::uint32_t Length = 0;
  std::int32_t Staged = -1;   // -1: the root
  std::uint32_t Depth = 0;
  TFileTime Time = 0;         // what a record without a valid date takes
};

// What a record is staged as, once its name and attributes are decided.
struct TNamedRecord {
  std::u16string Name;
  std::string Path;
  TFileTime Time = 0;
  TPosixAttributesPtr Posix;
};

// A file recorded as several records of the same name, each but the last
// flagged 80h; it is finished by its last record.
struct TOpenFile {
  bool Open = false;
  std::u16string Name;
  std::uint32_t FirstExtent = 0;
  std::uint64_t NextSector = 0;
  std::uint64_t Size = 0;
  TFileTime Time = 0;
  bool Hidden = false;
  TPosixAttributesPtr Posix;
};

bool IsSelfOrParent(const TDirectoryRecord& record) {
  return record.Identifier.size() == 1 && record.Identifier[0] <= 1;
}

bool IsSelf(const TDirectoryRecord& record) { return IsSelfOrParent(record) && record.Identifier[0] == 0; }

std::span<const std::uint8_t> BytesOf(const std::string& text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The attributes an entry keeps: a record without PX gets what a reader
// shows for it; the exact name bytes only when UTF-8 cannot carry them.
TPosixAttributesPtr PosixOf(TRockRidgeFields fields, bool directory) {
  TPosixAttributes& posix = fields.Posix;
  if (!fields.HasMode) {
    posix.Mode = directory ? kPosixDirectory | 0555 : fields.IsLink ? kPosixSymbolicLink | 0777 : kPosixRegular | 0444;
  }
  if (posix.Names && IsValidUtf8(posix.Names.get().Name)) posix.Names.edit().Name.clear();
  return TPosixAttributesPtr(std::move(posix));
}

// Why a decoded name cannot name an entry; empty when it can.
std::string NameProblem(std::u16string_view name) {
  if (name.empty()) return "an empty name";
  if (name == u"." || name == u"..") return "the reserved name " + Utf16ToUtf8(name);
  if (name.find_first_of(u"\\/") != std::u16string_view::npos) return "a name holding a path separator";
  return {};
}

class TWalk {
 public:
  TWalk(TSectorSource& source, const TFoundVolume& volume, const TWalkLimits& limits,
        TStagedTree& tree)
      : source_(source), volume_(volume), limits_(limits), tree_(tree),
        buffer_(std::size_t{kChunkSectors} * kSessionSectorBytes) {
    if (volume.RockRidge) rockRidge_.emplace(source, limits.VolumeEnd, volume.SystemUseSkip);
  }

  [[nodiscard]] bool Run(std::string& reason) {
    if (!ExtentInside(volume_.RootExtent, volume_.RootLength, limits_.VolumeEnd)) {
      reason = "the root directory at sector " + std::to_string(volume_.RootExtent) +
               " lies outside the volume of " + std::to_string(limits_.VolumeEnd) + " sectors";
      return false;
    }
    queue_.push_back({volume_.RootExtent, volume_.RootLength, -1, 0, CurrentFileTime()});
    visited_.insert(volume_.RootExtent);
    while (!queue_.empty()) {
      const TPendingDirectory directory = queue_.front();
      queue_.pop_front();
      if (!ReadDirectory(directory)) {
        reason = std::move(reason_);
        return false;
      }
    }
    return true;
  }

 private:
  bool Fail(std::string reason) {
    reason_ = std::move(reason);
    return false;
  }

  std::string PathOf(std::int32_t staged, std::u16string_view name) const {
    return (staged < 0 ? std::string() : StagedPath(tree_, staged)) + "\\" + Utf16ToUtf8(name);
  }

  std::string DirectoryName(const TPendingDirectory& directory) const {
    return directory.Staged < 0 ? std::string("\\") : StagedPath(tree_, directory.Staged);
  }

  [[nodiscard]] bool ReadDirectory(const TPendingDirectory& directory) {
    const std::uint64_t sectors = SectorsOf(directory.Length);
    for (std::uint64_t done = 0; done < sectors;) {
      const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(kChunkSectors, sectors - done));
      const auto lba = static_cast<std::uint32_t>(directory.Extent + done);
      if (!source_.ReadSectors(lba, count, std::span(buffer_).first(std::size_t{count} * kSessionSectorBytes))) {
        tree_.Unreadable = true;
        return Fail("cannot read directory " + DirectoryName(directory) + " at sector " +
                    std::to_string(lba));
      }
      for (std::uint32_t i = 0; i < count; ++i) {
        const auto sector = std::span<const std::uint8_t>(buffer_).subspan(
            std::size_t{i} * kSessionSectorBytes, kSessionSectorBytes);
        if (!ReadSector(sector, directory, lba + i)) return false;
      }
      done += count;
    }
    if (open_.Open) {
      return Fail("file " + PathOf(directory.Staged, open_.Name) + " ends without its last extent");
    }
    return true;
  }

  [[nodiscard]] bool ReadSector(std::span<const std::uint8_t> sector,
                                const TPendingDirectory& directory, std::uint32_t lba) {
    std::size_t offset = 0;
    TDirectoryRecord record;
    std::string why;
    for (;;) {
      switch (ReadDirectoryRecord(sector, offset, record, why)) {
        case TRecordRead::EndOfSector:
          return true;
        case TRecordRead::Malformed:
          return Fail("directory " + DirectoryName(directory) + ", sector " + std::to_string(lba) +
                      " offset " + std::to_string(offset) + ": " + why);
        case TRecordRead::Record:
          if (!TakeRecord(record, directory)) return false;
          offset += record.Length;
          break;
      }
    }
  }

  [[nodiscard]] bool TakeRecord(const TDirectoryRecord& record, const TPendingDirectory& directory) {
    const bool rootSelf = directory.Staged < 0 && IsSelf(record);
    if (IsSelfOrParent(record) && !rootSelf) return true;
    TRockRidgeFields rr;
    if (rockRidge_ && !ReadRockRidge(record, directory, rootSelf, rr)) return false;
    if (rootSelf) {
      if (rr.Any) tree_.RootPosix = PosixOf(std::move(rr), true);
      return true;
    }
    // A relocated directory is taken where its CL entry stands.
    if (rr.Relocated) return true;
    const std::u16string name = NameOf(record, rr);
    const std::string path = PathOf(directory.Staged, name);
    if (const std::string problem = NameProblem(name); !problem.empty()) {
      if (open_.Open) return Fail("file " + path + " interrupts a file of several extents");
      tree_.LeftOut.push_back(path + ": left out, " + problem);
      return true;
    }
    if (record.Flags & kRecordFlagAssociated) {
      tree_.LeftOut.push_back(path + ": left out, an associated file");
      return true;
    }
    // Recorded again without its ZF entry, the data would read as the
    // compressed bytes.
    if (rr.Compressed && !(record.Flags & kRecordFlagDirectory)) {
      if (open_.Open) return Fail("file " + path + " interrupts a file of several extents");
      tree_.LeftOut.push_back(path + ": left out, its data is stored compressed (ZF), which a new session cannot record");
      return true;
    }
    const TFileTime time = TimeOf(record, rr, directory);
    const bool isDirectory = (record.Flags & kRecordFlagDirectory) != 0 || rr.ChildLink.has_value();
    const TPosixAttributesPtr posix = rr.Any ? PosixOf(rr, isDirectory) : nullptr;
    const TNamedRecord named{name, path, time, posix};
    if (rr.ChildLink) return TakeRelocatedDirectory(record, directory, named, *rr.ChildLink);
    if (record.Flags & kRecordFlagDirectory) return TakeDirectory(record, directory, named);
    if (rr.IsLink) return TakeLink(record, directory, named);
    return TakeFileExtent(record, directory, named);
  }

  // The Rock Ridge name is exact; without one, the identifier is decoded.
  std::u16string NameOf(const TDirectoryRecord& record, const TRockRidgeFields& rr) const {
    if (rr.HasName) return DecodeText(BytesOf(rr.Posix.Names.get().Name), TNameEncoding::EightBit);
    return DecodeIdentifier(record.Identifier, volume_.Kind, volume_.Names);
  }

  static TFileTime TimeOf(const TDirectoryRecord& record, const TRockRidgeFields& rr,
                          const TPendingDirectory& directory) {
    if (rr.HasModifyTime) return FileTimeFromUnix(rr.Posix.Modify.Seconds, rr.Posix.Modify.Nanoseconds);
    return RecordedInstant(record.Date).value_or(directory.Time);
  }

  [[nodiscard]] bool ReadRockRidge(const TDirectoryRecord& record, const TPendingDirectory& directory,
                                   bool rootSelf, TRockRidgeFields& rr) {
    std::string why;
    if (rockRidge_->Read(record.SystemUse, rootSelf, rr, why)) return true;
    tree_.Unreadable = rockRidge_->ReadFailed();
    const std::u16string recorded = DecodeIdentifier(record.Identifier, volume_.Kind, volume_.Names);
    return Fail("directory " + DirectoryName(directory) + ", the Rock Ridge entries of " +
                (rootSelf ? std::string("its \".\" record") : "record " + Utf16ToUtf8(recorded)) + ": " + why);
  }

  [[nodiscard]] bool Stage(TStagedEntry entry) {
    if (tree_.Entries.size() >= limits_.MaxEntries) {
      return Fail("the session holds more entries than the compilation can take (at most " +
                  std::to_string(kMaxFileEntries) + ")");
    }
    tree_.Entries.push_back(std::move(entry));
    return true;
  }

  [[nodiscard]] bool TakeDirectory(const TDirectoryRecord& record, const TPendingDirectory& directory,
                                   const TNamedRecord& named) {
    const std::string& path = named.Path;
    if (open_.Open) return Fail("directory " + path + " interrupts a file of several extents");
    if (record.Flags & kRecordFlagMultiExtent) return Fail("directory " + path + " is flagged as a file of several extents");
    if (directory.Depth + 1 > kMaxImportDepth) {
      return Fail("directory " + path + " is nested deeper than " + std::to_string(kMaxImportDepth) + " levels");
    }
    if (record.DataLength == 0 || !ExtentInside(record.Extent, record.DataLength, limits_.VolumeEnd)) {
      return Fail("directory " + path + " at sector " + std::to_string(record.Extent) +
                  " lies outside the volume of " + std::to_string(limits_.VolumeEnd) + " sectors");
    }
    if (!visited_.insert(record.Extent).second) {
      return Fail("directory " + path + " leads back to a directory already read (sector " +
                  std::to_string(record.Extent) + ")");
    }
    if (tree_.Directories >= limits_.MaxDirectories) {
      return Fail("the session holds more directories than the compilation can take (at most " +
                  std::to_string(kMaxDirEntries) + ")");
    }
    if (!Stage({named.Name, directory.Staged, true, 0, 0, named.Time, (record.Flags & kRecordFlagHidden) != 0,
                named.Posix})) {
      return false;
    }
    ++tree_.Directories;
    queue_.push_back({record.Extent, record.DataLength, static_cast<std::int32_t>(tree_.Entries.size() - 1),
                      directory.Depth + 1, named.Time});
    return true;
  }

  // A directory moved elsewhere to keep the primary tree shallow: its length
  // is the one its own "." record gives.
  [[nodiscard]] bool TakeRelocatedDirectory(const TDirectoryRecord& record, const TPendingDirectory& directory,
                                            const TNamedRecord& named, std::uint32_t extent) {
    TDirectoryRecord self;
    std::string why;
    if (!ExtentInside(extent, kSessionSectorBytes, limits_.VolumeEnd)) {
      return Fail("directory " + named.Path + " is relocated to sector " + std::to_string(extent) +
                  ", outside the volume of " + std::to_string(limits_.VolumeEnd) + " sectors");
    }
    if (!source_.ReadSectors(extent, 1, relocated_)) {
      tree_.Unreadable = true;
      return Fail("cannot read the relocated directory " + named.Path + " at sector " + std::to_string(extent));
    }
    if (ReadDirectoryRecord(relocated_, 0, self, why) != TRecordRead::Record || !IsSelf(self)) {
      return Fail("the relocated directory " + named.Path + " at sector " + std::to_string(extent) +
                  " does not start with its \".\" record");
    }
    TDirectoryRecord moved = record;
    moved.Extent = extent;
    moved.DataLength = self.DataLength;
    moved.Flags = static_cast<std::uint8_t>(record.Flags | kRecordFlagDirectory);
    return TakeDirectory(moved, directory, named);
  }

  // A symbolic link has no data of its own, whatever its record says.
  [[nodiscard]] bool TakeLink(const TDirectoryRecord& record, const TPendingDirectory& directory,
                              const TNamedRecord& named) {
    if (open_.Open) return Fail("symbolic link " + named.Path + " interrupts a file of several extents");
    return Stage({named.Name, directory.Staged, false, 0, 0, named.Time, (record.Flags & kRecordFlagHidden) != 0,
                  named.Posix});
  }

  [[nodiscard]] bool TakeFileExtent(const TDirectoryRecord& record, const TPendingDirectory& directory,
                                    const TNamedRecord& named) {
    const std::string& path = named.Path;
    const bool more = (record.Flags & kRecordFlagMultiExtent) != 0;
    if (record.DataLength > 0 && record.Extent == 0) return Fail("file " + path + " records data at sector 0");
    if (!ExtentInside(record.Extent, record.DataLength, limits_.VolumeEnd)) {
      return Fail("file " + path + ": its data at sector " + std::to_string(record.Extent) +
                  " lies outside the volume of " + std::to_string(limits_.VolumeEnd) + " sectors");
    }
    if (more && record.DataLength % kSessionSectorBytes != 0) {
      return Fail("file " + path + " has an extent that does not fill its last sector");
    }
    if (open_.Open) {
      if (named.Name != open_.Name) return Fail("file " + PathOf(directory.Staged, open_.Name) + " ends without its last extent");
      if (record.DataLength > 0 && record.Extent != open_.NextSector) {
        return Fail("file " + path + " has extents that are not back to back, which cannot be recorded again");
      }
    } else {
      open_ = {true, named.Name, record.DataLength > 0 ? record.Extent : 0, record.Extent, 0, named.Time,
               (record.Flags & kRecordFlagHidden) != 0, named.Posix};
    }
    open_.Size += record.DataLength;
    open_.NextSector += SectorsOf(record.DataLength);
    if (open_.FirstExtent == 0 && record.DataLength > 0) open_.FirstExtent = record.Extent;
    if (more) return true;
    open_.Open = false;
    return Stage({open_.Name, directory.Staged, false, open_.Size > 0 ? open_.FirstExtent : 0,
                  open_.Size, open_.Time, open_.Hidden, std::move(open_.Posix)});
  }

  TSectorSource& source_;
  const TFoundVolume& volume_;
  const TWalkLimits& limits_;
  TStagedTree& tree_;
  std::vector<std::uint8_t> buffer_;
  std::vector<std::uint8_t> relocated_ = std::vector<std::uint8_t>(kSessionSectorBytes);
  std::optional<TRockRidgeReader> rockRidge_;
  std::deque<TPendingDirectory> queue_;
  std::unordered_set<std::uint32_t> visited_;
  TOpenFile open_;
  std::string reason_;
};

}  // namespace

bool WalkSessionTree(TSectorSource& Source, const TFoundVolume& Volume, const TWalkLimits& Limits,
                     TStagedTree& Tree, std::string& Reason) {
  return TWalk(Source, Volume, Limits, Tree).Run(Reason);
}

std::string StagedPath(const TStagedTree& Tree, std::int32_t Index) {
  std::u16string path;
  for (std::int32_t i = Index; i >= 0; i = Tree.Entries[static_cast<std::size_t>(i)].Parent)
    path.insert(0, u"\\" + Tree.Entries[static_cast<std::size_t>(i)].Name);
  return Utf16ToUtf8(path);
}

}  // namespace kilnor
