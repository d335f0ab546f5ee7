#pragma once
// A private directory for one fuzzing process, removed when it exits.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace kilnor::fuzz {

class TScratchDirectory {
 public:
  TScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmor-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TScratchDirectory(const TScratchDirectory&) = delete;
  TScratchDirectory& operator=(const TScratchDirectory&) = delete;

  [[nodiscard]] const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace kilnor::fuzz
