#pragma once
// Test fixtures of the layout tests: a compilation built entry by entry, a
// minimal image writer (header, boot image and file data at their laid-out
// addresses; sparse sources stay sparse), and a runner for the independent
// reader tools.
#include <cstdint>
#include <filesystem>
#include <string>

#include "engine/image/TreeTypes.h"

namespace kilnor::test {

inline constexpr TSystemTime kSummerTime{2021, 7, 4, 15, 12, 34, 56, 0};
inline constexpr TSystemTime kWinterTime{2021, 1, 5, 15, 8, 5, 9, 0};

// A compilation whose entries are made directly, with the short names the
// tree derives when a source has no 8.3 alias (the first 12 characters,
// upper-cased; files without a dot get one).
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

// Writes the prepared session of `cd` to `image`; false when GenerateHeader
// refuses or a source cannot be read.
[[nodiscard]] bool WriteTestImage(TCDFiles& cd, const std::filesystem::path& image);

struct TCommandResult {
  int ExitCode = -1;
  std::string Output;  // stdout and stderr
};
[[nodiscard]] TCommandResult Run(const std::string& command);
[[nodiscard]] bool HaveTool(const std::string& name);
[[nodiscard]] std::string Quoted(const std::filesystem::path& path);

// A fresh, empty folder below the system's temporary folder, removed with the object.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace kilnor::test
