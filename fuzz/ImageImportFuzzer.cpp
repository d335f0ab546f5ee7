// An arbitrary image mounted as MountISOImage mounts an image file: the
// session reader looks for its volume descriptors in sectors 0 to 32 and
// imports its tree. What it imported is then laid out as the next session's
// directories, as an append does.
#include <cstddef>
#include <cstdint>

#include "MemorySectors.h"
#include "engine/image/ISO9660.h"
#include "engine/image/SessionImport.h"
#include "engine/image/Tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  using namespace kilnor;
  fuzz::TMemorySectors image({Data, Size});
  TCDFiles cd;
  ClearAll(cd);
  const TImportReport report = ImportVolume(cd, image, {0, kImageCandidateSectors, 0}, cd.RootDir);
  if (report.Imported && Prepare(cd) != 0) (void)GenerateHeader(cd);
  return 0;
}
