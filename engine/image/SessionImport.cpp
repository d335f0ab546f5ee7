#include "engine/image/SessionImport.h"

#include <algorithm>

#include "engine/image/RockRidgeRecords.h"
#include "engine/image/SessionWalk.h"
#include "engine/image/Tree.h"
#include "engine/image/TreeCheckpoint.h"
#include "engine/platform/FileSearch.h"

namespace kilnor {
namespace {

TWin32FindDataW FindDataOf(const TStagedEntry& staged) {
  TWin32FindDataW fd;
  fd.dwFileAttributes = staged.IsDirectory ? kAttributeDirectory : kAttributeNormal;
  if (staged.Hidden) fd.dwFileAttributes |= kAttributeHidden;
  fd.ftLastWriteTime = staged.Time;
  fd.nFileSizeHigh = static_cast<std::uint32_t>(staged.Size >> 32);
  fd.nFileSizeLow = static_cast<std::uint32_t>(staged.Size);
  (void)CopyToField(fd.cFileName, std::u16string_view(staged.Name));
  return fd;
}

TWalkLimits LimitsFor(const TCDFiles& cd, const TFoundVolume& volume, const TSessionPlace& place,
                      const TSectorSource& source) {
  std::uint64_t end = std::min<std::uint64_t>(volume.VolumeSpaceSize, source.SectorLimit());
  if (place.End != 0) end = std::min(end, place.End);
  return {end, kMaxFileEntries - std::min(kMaxFileEntries, cd.Files.size()),
          kMaxDirEntries - std::min(kMaxDirEntries, cd.Dirs.size())};
}

// Adds the staged entries below Destination. False, with the reason, when
// the tree refuses one; the caller then restores the checkpoint.
class TCommit {
 public:
  TCommit(TCDFiles& cd, const TStagedTree& tree, TImportReport& report, TTreeCheckpoint& checkpoint)
      : cd_(cd), tree_(tree), report_(report), checkpoint_(checkpoint), dirs_(tree.Entries.size()) {}

  [[nodiscard]] bool Run(pDirEntry destination) {
    for (std::size_t i = 0; i < tree_.Entries.size(); ++i) {
      const TStagedEntry& staged = tree_.Entries[i];
      const pDirEntry parent = staged.Parent < 0 ? destination : dirs_[static_cast<std::size_t>(staged.Parent)];
      if (parent == kSkippedDir) {
        dirs_[i] = kSkippedDir;
        continue;
      }
      checkpoint_.KeepDirectory(parent);
      if (!(staged.IsDirectory ? AddDirectory(i, parent) : AddFile(i, parent))) return false;
    }
    return true;
  }

 private:
  // A directory that was there already keeps its own attributes.
  [[nodiscard]] bool AddDirectory(std::size_t i, pDirEntry parent) {
    const TStagedEntry& staged = tree_.Entries[i];
    const bool existed = LookupEntry(parent, staged.Name) != nullptr;
    const pDirEntry dir = AddSubdirectory(cd_, parent, FindDataOf(staged));
    dirs_[i] = dir;
    if (!existed && dir != nullptr && dir != kSkippedDir) dir->OwnEntry->Posix = staged.Posix;
    return Judge(i, dir == nullptr, dir == kSkippedDir);
  }

  // A file kept because ReplaceFile is off keeps its own attributes too.
  [[nodiscard]] bool AddFile(std::size_t i, pDirEntry parent) {
    const TStagedEntry& staged = tree_.Entries[i];
    const pFileEntry existing = LookupEntry(parent, staged.Name);
    if (existing != nullptr) checkpoint_.KeepEntry(existing);
    const pFileEntry entry = AddEntry(cd_, parent, FindDataOf(staged), true, staged.Extent, std::nullopt);
    if (entry != nullptr && entry != kSkippedEntry && (existing == nullptr || cd_.ReplaceFile)) {
      entry->Posix = staged.Posix;
    }
    return Judge(i, entry == nullptr, entry == kSkippedEntry);
  }

  [[nodiscard]] bool Judge(std::size_t i, bool refused, bool skipped) {
    const std::string path = StagedPath(tree_, static_cast<std::int32_t>(i));
    if (refused) {
      report_.Reason = path + ": " + LastTreeError(cd_);
      return false;
    }
    if (skipped) report_.LeftOut.push_back(path + ": " + LastTreeError(cd_));
    return true;
  }

  TCDFiles& cd_;
  const TStagedTree& tree_;
  TImportReport& report_;
  TTreeCheckpoint& checkpoint_;
  std::vector<pDirEntry> dirs_;
};

}  // namespace

// The tree to read: the primary one when it records Rock Ridge, else the
// preferred one. False, with the reason, when the primary tree's Rock Ridge
// area cannot be trusted or read.
[[nodiscard]] bool ChooseTree(const TCDFiles& cd, TSectorSource& source, const TSessionPlace& place,
                              const TFoundVolumes& found, TFoundVolume& tree, TImportReport& report) {
  std::string& reason = report.Reason;
  tree = *found.Preferred;
  if (!found.Primary) return true;
  const std::uint64_t end = LimitsFor(cd, *found.Primary, place, source).VolumeEnd;
  std::uint8_t skip = 0;
  switch (DetectRockRidge(source, found.Primary->RootExtent, end, skip, reason)) {
    case TRockRidgePresence::Absent:
      reason.clear();
      return true;
    case TRockRidgePresence::Malformed:
      return false;
    case TRockRidgePresence::Unreadable:
      report.Unreadable = true;
      return false;
    case TRockRidgePresence::Present:
      tree = *found.Primary;
      tree.RockRidge = true;
      tree.SystemUseSkip = skip;
      return true;
  }
  return true;
}

TImportReport ImportVolume(TCDFiles& CDFiles, TSectorSource& Source, const TSessionPlace& Place,
                           pDirEntry Destination) {
  TImportReport report;
  const TFoundVolumes found = FindVolumes(Source, Place.FirstCandidate, Place.Candidates, report.Reason);
  if (!found.Preferred) return report;
  report.VolumeLabel = found.Preferred->Label;
  TFoundVolume volume;
  if (!ChooseTree(CDFiles, Source, Place, found, volume, report)) return report;
  report.RockRidge = volume.RockRidge;
  TStagedTree staged;
  if (!WalkSessionTree(Source, volume, LimitsFor(CDFiles, volume, Place, Source), staged, report.Reason)) {
    report.Unreadable = staged.Unreadable;
    return report;
  }
  report.Directories = static_cast<std::uint32_t>(staged.Directories);
  report.Files = static_cast<std::uint32_t>(staged.Entries.size() - staged.Directories);
  report.LeftOut = std::move(staged.LeftOut);
  TTreeCheckpoint checkpoint(CDFiles);
  if (!TCommit(CDFiles, staged, report, checkpoint).Run(Destination)) {
    checkpoint.Restore();
    report.LeftOut.clear();
    return report;
  }
  // The root's own attributes, unless the compilation has some already.
  if (Destination == CDFiles.RootDir && CDFiles.RootPosix == nullptr) CDFiles.RootPosix = staged.RootPosix;
  report.Imported = true;
  return report;
}

}  // namespace kilnor
