#include "engine/image/SessionWalk.h"

#include <deque>
#include <unordered_set>

#include "engine/image/DirectoryRecords.h"
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
};

bool IsSelfOrParent(const TDirectoryRecord& record) {
  return record.Identifier.size() == 1 && record.Identifier[0] <= 1;
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
        buffer_(std::size_t{kChunkSectors} * kSessionSectorBytes) {}

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
    if (IsSelfOrParent(record)) return true;
    const std::u16string name = DecodeIdentifier(record.Identifier, volume_.Kind, volume_.Names);
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
    const TFileTime time = RecordedInstant(record.Date).value_or(directory.Time);
    if (record.Flags & kRecordFlagDirectory) return TakeDirectory(record, directory, name, path, time);
    return TakeFileExtent(record, directory, name, path, time);
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
                                   const std::u16string& name, const std::string& path, TFileTime time) {
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
    if (!Stage({name, directory.Staged, true, 0, 0, time, (record.Flags & kRecordFlagHidden) != 0})) return false;
    ++tree_.Directories;
    queue_.push_back({record.Extent, record.DataLength, static_cast<std::int32_t>(tree_.Entries.size() - 1),
                      directory.Depth + 1, time});
    return true;
  }

  [[nodiscard]] bool TakeFileExtent(const TDirectoryRecord& record, const TPendingDirectory& directory,
                                    const std::u16string& name, const std::string& path, TFileTime time) {
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
      if (name != open_.Name) return Fail("file " + PathOf(directory.Staged, open_.Name) + " ends without its last extent");
      if (record.DataLength > 0 && record.Extent != open_.NextSector) {
        return Fail("file " + path + " has extents that are not back to back, which cannot be recorded again");
      }
    } else {
      open_ = {true, name, record.DataLength > 0 ? record.Extent : 0, record.Extent, 0, time,
               (record.Flags & kRecordFlagHidden) != 0};
    }
    open_.Size += record.DataLength;
    open_.NextSector += SectorsOf(record.DataLength);
    if (open_.FirstExtent == 0 && record.DataLength > 0) open_.FirstExtent = record.Extent;
    if (more) return true;
    open_.Open = false;
    return Stage({open_.Name, directory.Staged, false, open_.Size > 0 ? open_.FirstExtent : 0,
                  open_.Size, open_.Time, open_.Hidden});
  }

  TSectorSource& source_;
  const TFoundVolume& volume_;
  const TWalkLimits& limits_;
  TStagedTree& tree_;
  std::vector<std::uint8_t> buffer_;
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
