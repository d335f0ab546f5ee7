#pragma once
// A way back for an operation that adds many entries to the compilation and
// must leave it exactly as it was when it fails half-way: the checkpoint
// remembers what the tables held, and the operation tells it which existing
// entries it is about to replace and which existing directories it adds to.
#include <unordered_map>
#include <unordered_set>

#include "engine/image/TreeTypes.h"

namespace kilnor {

class TTreeCheckpoint {
 public:
  explicit TTreeCheckpoint(TCDFiles& CDFiles);

  // Call before an entry that exists may be replaced.
  void KeepEntry(pFileEntry Existing);
  // Call before entries are added to Directory.
  void KeepDirectory(pDirEntry Directory);

  // Removes every entry and directory made since the checkpoint and gives the
  // kept entries their former contents.
  void Restore();

 private:
  TCDFiles& cd_;
  std::size_t files_;
  std::size_t dirs_;
  bool prepared_;
  std::unordered_map<pFileEntry, TFileEntry> entries_;
  std::unordered_set<pDirEntry> directories_;
};

}  // namespace kilnor
