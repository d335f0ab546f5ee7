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

// Puts a fresh medium of Kind in the library's drive and disarms its faults,
// whatever earlier tests of the process left there.
inline void FreshLibraryDrive(TEmulator& Helper, TMediumKind Kind) {
  std::string error;
  ASSERT_TRUE(Helper.WithDrive(0, [&](TDrive& d) {
    d.ClearFaults();
    return d.InsertNew(Kind, std::nullopt, {}, error);
  })) << error;
}

inline std::string RecorderLibraryPath() { return std::string(VELMOR_BIN_DIR) + "/libvelmor-recorder.so"; }

}  // namespace velmor::emu::test
