#pragma once
// Test fixture of the layout tests: a compilation built entry by entry.
#include <cstdint>
#include <filesystem>
#include <string>

#include "ReaderTools.h"

#include "engine/image/TreeTypes.h"

namespace kilnor::test {

inline constexpr TSystemTime kSummerTime{2021, 7, 4, 15, 12, 34, 56, 0};
inline constexpr TSystemTime kWinterTime{2021, 1, 5, 15, 8, 5, 9, 0};

// A compilation whose entries are made directly, with the short names the
// tree derives when a source has no 8.3 alias (the first 12 characters,
// upper-cased; files without a dot get one), without Rock Ridge.
class TCompilation {
 public:
  TCompilation();
  TCDFiles cd;

  pDirEntry root() { return cd.RootDir; }
  pDirEntry AddDir(pDirEntry parent, const std::u16string& name);
  pFileEntry AddFile(pDirEntry parent, const std::u16string& name, std::int64_t size,
                     const std::filesystem::path& source = {});
  void SetLabel(const std::string& label);
};

}  // namespace kilnor::test
