#pragma once
// The recorder library reads its state directory once per process, from
// VELMOR_EMULATOR_DIR: every test that loads it shares this folder.
#include <cstdlib>
#include <string>

#include "EmulatorTestSupport.h"

namespace velmor::emu::test {

inline const std::string& LibraryStateDir() {
  static TTempDir dir;
  static const bool set = ::setenv("VELMOR_EMULATOR_DIR", dir.Path.c_str(), 1) == 0;
  EXPECT_TRUE(set);
  return dir.Path;
}

inline std::string RecorderLibraryPath() { return std::string(VELMOR_BIN_DIR) + "/libvelmor-recorder.so"; }

}  // namespace velmor::emu::test
