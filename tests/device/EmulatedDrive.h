#pragma once
// The emulated recorder behind the engine's real transport: the engine loads
// libvelmor-recorder.so as its ASPI library, and tests set the drive up with
// the velmor-emulator command on a state directory of this test program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>

#include "engine/device/SCSILib.h"

namespace kilnor::test {

inline const std::string kBinDir = VELMOR_BIN_DIR;

// The state directory of this test program, removed with its multi-GB
// sparse data files when the program ends. Created before the recorder
// library is first loaded, so it is removed after the library has saved its
// last state.
class TEmulatorDirectory {
 public:
  TEmulatorDirectory() {
    std::string pattern = (std::filesystem::path(testing::TempDir()) / "velmor-mmc-emulator-XXXXXX").string();
    if (mkdtemp(pattern.data())) Path = pattern;
  }
  ~TEmulatorDirectory() {
    std::error_code ignored;
    if (!Path.empty()) std::filesystem::remove_all(Path, ignored);
  }
  TEmulatorDirectory(const TEmulatorDirectory&) = delete;
  TEmulatorDirectory& operator=(const TEmulatorDirectory&) = delete;
  std::string Path;
};

// Names the directory in VELMOR_EMULATOR_DIR again on every call: another
// test of the program may have pointed it elsewhere, and the recorder
// library reads it when it is first loaded, velmor-emulator and velmor-cli
// when they start.
inline const std::string& EmulatorDirectory() {
  static const TEmulatorDirectory directory;
  setenv("VELMOR_EMULATOR_DIR", directory.Path.c_str(), 1);
  return directory.Path;
}

// A file of this test program (an image to insert), kept in the state
// directory so that it goes with it.
inline std::string EmulatorScratchPath(const std::string& Name) { return EmulatorDirectory() + "/" + Name; }

// velmor-emulator <Arguments>; its exit code.
inline int Emulator(const std::string& Arguments) {
  EmulatorDirectory();
  return std::system((kBinDir + "/velmor-emulator " + Arguments + " >/dev/null 2>&1").c_str());
}

// What `velmor-emulator list` says the medium holds: recorded and total blocks.
struct TEmulatedMedium {
  std::uint32_t Recorded = 0;
  std::uint32_t Capacity = 0;
  std::string State;  // blank, appendable, closed, formatted, ...
};
inline TEmulatedMedium EmulatorMedium() {
  EmulatorDirectory();
  std::string text;
  if (FILE* list = popen((kBinDir + "/velmor-emulator list").c_str(), "r")) {
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, list)) text += chunk;
    pclose(list);
  }
  std::smatch found;
  TEmulatedMedium medium;
  if (std::regex_search(text, found, std::regex(R"(medium: [^,]+, (\w+).*?(\d+) of (\d+) blocks)"))) {
    medium.State = found[1];
    medium.Recorded = static_cast<std::uint32_t>(std::stoul(found[2]));
    medium.Capacity = static_cast<std::uint32_t>(std::stoul(found[3]));
  }
  return medium;
}

// A fresh emulated drive (velmor-emulator reset), enumerated and selected.
class EmulatedDriveTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Emulator("reset"), 0);
    ASSERT_TRUE(InitializeASPI(Dev(), true, kBinDir + "/libvelmor-recorder.so", ""));
    ASSERT_GE(Dev().NoOfDevices, 1);
    ASSERT_TRUE(SelectDevice(Dev(), 0));
  }
  TSCSIDevice& Dev() { return *Device; }
  std::unique_ptr<TSCSIDevice> Device = std::make_unique<TSCSIDevice>();
};

}  // namespace kilnor::test
