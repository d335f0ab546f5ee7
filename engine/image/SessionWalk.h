#pragma once
// The walk over a recorded session's directory tree that turns it into a
// staged list of entries, checking everything on the way: directories are
// read whole (their full 32-bit length) and only inside the volume, each
// directory extent is read once (a loop is an error), nesting is capped, and
// the walk stops when the compilation could not hold what it found. Nothing
// of the compilation is touched; committing the list is the importer's job.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/image/SectorSource.h"
#include "engine/image/TreeTypes.h"
#include "engine/image/VolumeScan.h"
#include "engine/platform/FindData.h"

namespace kilnor {

// Deepest nesting below the root the walk follows.
inline constexpr std::uint32_t kMaxImportDepth = 64;

struct TStagedEntry {
  std::u16string Name;
  std::int32_t Parent = -1;      // index of the staged directory holding it; -1 = the root
  bool IsDirectory = false;
  std::uint32_t Extent = 0;      // a file's first data sector (absolute); 0 when it has no data
  std::uint64_t Size = 0;        // a file's bytes, over all its extents
  TFileTime Time = 0;            // UTC
  bool Hidden = false;           // the record's existence bit was set
  TPosixAttributesPtr Posix;     // its Rock Ridge attributes; null without Rock Ridge
};

// Parents are listed before their children.
struct TStagedTree {
  std::vector<TStagedEntry> Entries;
  TPosixAttributesPtr RootPosix;  // the root's own Rock Ridge attributes
  std::size_t Directories = 0;
  // Records not taken, each as "path: reason".
  std::vector<std::string> LeftOut;
  // The walk stopped because a directory sector could not be read.
  bool Unreadable = false;
};

struct TWalkLimits {
  std::uint64_t VolumeEnd = 0;   // first sector past the volume (and past the source)
  std::size_t MaxEntries = 0;    // entries the compilation can still take
  std::size_t MaxDirectories = 0;
};

// Walks the tree of Volume, with its Rock Ridge names and attributes when
// Volume.RockRidge is set: a symbolic link is staged as a file without data,
// a relocated directory at the place its CL entry names (its RE record in
// the relocation directory is passed over). False, with the reason in Reason, when a
// directory cannot be read or holds a record that cannot be trusted; Tree
// then holds a partial list that must not be used.
[[nodiscard]] bool WalkSessionTree(TSectorSource& Source, const TFoundVolume& Volume,
                                   const TWalkLimits& Limits, TStagedTree& Tree,
                                   std::string& Reason);

// "\DIR\SUB\name" of a staged entry, for messages.
[[nodiscard]] std::string StagedPath(const TStagedTree& Tree, std::int32_t Index);

}  // namespace kilnor
