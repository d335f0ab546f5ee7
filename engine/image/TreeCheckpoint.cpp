#include "engine/image/TreeCheckpoint.h"

#include <algorithm>

namespace kilnor {

TTreeCheckpoint::TTreeCheckpoint(TCDFiles& CDFiles)
    : cd_(CDFiles), files_(CDFiles.Files.size()), dirs_(CDFiles.Dirs.size()),
      prepared_(CDFiles.Prepared) {}

void TTreeCheckpoint::KeepEntry(pFileEntry Existing) {
  if (static_cast<std::size_t>(Existing->FileId) < files_) entries_.try_emplace(Existing, *Existing);
}

void TTreeCheckpoint::KeepDirectory(pDirEntry Directory) { directories_.insert(Directory); }

void TTreeCheckpoint::Restore() {
  const auto isNew = [this](const TFileEntry* entry) {
    return static_cast<std::size_t>(entry->FileId) >= files_;
  };
  for (auto& [entry, former] : entries_) *entry = former;
  std::unordered_set<pDirEntry> newDirs;
  for (std::size_t i = dirs_; i < cd_.Dirs.size(); ++i) newDirs.insert(cd_.Dirs[i].get());
  for (pDirEntry dir : directories_) {
    if (newDirs.contains(dir)) continue;
    pFileEntry* link = &dir->Files;
    dir->LastFile = nullptr;
    while (*link != nullptr) {
      if (isNew(*link)) {
        *link = (*link)->NextFile;
      } else {
        dir->LastFile = *link;
        link = &(*link)->NextFile;
      }
    }
    dir->NameIndex.RemoveIf(isNew);
  }
  std::erase_if(cd_.PathTableEntries, [&](pDirEntry dir) { return newDirs.contains(dir); });
  cd_.Files.resize(files_);
  cd_.Dirs.resize(dirs_);
  cd_.Prepared = prepared_;
}

}  // namespace kilnor
