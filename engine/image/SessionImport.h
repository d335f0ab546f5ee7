#pragma once
// Session import: the directory tree of a recorded session (on a disc, or in
// an ISO image file) added to the compilation as imported entries. A file
// keeps its recorded extent (an absolute sector) and is not written again;
// the next Prepare records that extent in the new session's directories.
//
// An import is all or nothing: the whole tree is read and checked first, then
// added; when anything fails, the compilation is left exactly as it was.
// Entries already present are reused (directories) or kept (files, unless
// ReplaceFile is on), so importing the same session twice adds nothing.
//
// A session whose primary tree records Rock Ridge is read through that tree,
// as POSIX systems read it: its names are exact where Joliet's are cut or
// changed, and it carries modes, owners, times and symbolic links, which the
// entries keep in Posix. Otherwise the Joliet tree is preferred.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/image/SectorSource.h"
#include "engine/image/TreeTypes.h"
#include "engine/image/VolumeScan.h"

namespace kilnor {

// Where the volume descriptors of a session may stand: an image file's
// sectors 0 to 32, or 16 to 31 after the start of a session's track.
inline constexpr std::uint32_t kImageCandidateSectors = 33;
inline constexpr std::uint32_t kDescriptorAreaStart = 16;
inline constexpr std::uint32_t kDescriptorAreaSectors = 16;

// What one import did.
struct TImportReport {
  bool Imported = false;
  std::string Reason;                  // why nothing was imported
  bool Unreadable = false;             // it failed at a sector that could not be read
  std::vector<std::string> LeftOut;    // records not imported, each "path: reason"
  std::u16string VolumeLabel;
  bool RockRidge = false;              // the tree was read with its Rock Ridge names and attributes
  std::uint32_t Files = 0;             // entries read from the session
  std::uint32_t Directories = 0;
};

struct TSessionPlace {
  std::uint32_t FirstCandidate = 0;   // first sector that may hold a volume descriptor
  std::uint32_t Candidates = 0;       // how many may
  std::uint64_t End = 0;              // first sector past the session's space; 0 = no bound
};

// Reads the session at Place through Source and adds its tree below
// Destination (a directory of CDFiles).
[[nodiscard]] TImportReport ImportVolume(TCDFiles& CDFiles, TSectorSource& Source,
                                         const TSessionPlace& Place, pDirEntry Destination);

}  // namespace kilnor
