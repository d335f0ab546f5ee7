// State files of the emulated recorder as anyone may leave them: the input
// is a drive's state file (first byte even) or its fault list beside a sound
// state file (first byte odd). A state that loads is then asked what a host
// asks first, so a restored layout of any shape answers without harm.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Drive.h"
#include "ScratchDirectory.h"
#include "StateStore.h"

namespace {

using namespace velmor::emu;

// The medium the seed states name; its data file is made fresh for each input.
constexpr std::string_view kMediumId = "0123456789abcdef";
constexpr std::uint64_t kMediumBytes = 64 * 1024 * 1024;

constexpr std::string_view kSoundState =
    R"({"drive": {}, "tray_open": false, "medium": {"id": "0123456789abcdef", "kind": "cd-r",)"
    R"( "capacity": 30000, "closed_sessions": 1, "finalised": false, "formatted": 0, "written_end": 300,)"
    R"( "tracks": [{"number": 1, "session": 1, "start": 0, "reserved": 300, "recorded": 300, "closed": true}]}})";

// INQUIRY, GET CONFIGURATION, READ DISC INFORMATION, READ TRACK INFORMATION
// of tracks 1 and 2, READ TOC (formatted, session info, ATIP), READ CAPACITY,
// READ FORMAT CAPACITIES, MODE SENSE of page 2Ah, READ (10) of sector 16.
const std::vector<std::vector<std::uint8_t>> kHostQuestions = {
    {0x12, 0, 0, 0, 96, 0},
    {0x46, 0, 0, 0, 0, 0, 0, 0x10, 0, 0},
    {0x51, 0, 0, 0, 0, 0, 0, 0, 34, 0},
    {0x52, 1, 0, 0, 0, 1, 0, 0, 36, 0},
    {0x52, 1, 0, 0, 0, 2, 0, 0, 36, 0},
    {0x43, 0, 0, 0, 0, 0, 1, 0x08, 0, 0},
    {0x43, 0, 1, 0, 0, 0, 0, 0, 12, 0},
    {0x43, 0, 4, 0, 0, 0, 0, 0, 28, 0},
    {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0x23, 0, 0, 0, 0, 0, 0, 0x01, 0, 0},
    {0x5A, 0, 0x2A, 0, 0, 0, 0, 0x01, 0, 0},
    {0x28, 0, 0, 0, 0, 16, 0, 0, 1, 0},
};

void WriteFile(const std::string& path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(text.data(), static_cast<std::streamsize>(text.size()));
}

void FreshMediumData(const std::string& directory) {
  const std::string path = directory + "/medium-" + std::string(kMediumId) + ".data";
  std::ofstream(path, std::ios::binary | std::ios::trunc).close();
  std::filesystem::resize_file(path, kMediumBytes);
}

void AskAsAHost(TDrive& drive) {
  std::vector<std::uint8_t> reply(0x1000);
  for (const auto& cdb : kHostQuestions) (void)drive.Execute(cdb, TDirection::In, reply);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static kilnor::fuzz::TScratchDirectory scratch;
  static const TStateStore store(scratch.Path());
  if (Size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(Data) + 1, Size - 1);
  const bool faultList = Data[0] & 1;
  WriteFile(store.DrivePath(0), faultList ? kSoundState : text);
  WriteFile(store.FaultsPath(0), faultList ? text : std::string_view(R"({"faults": []})"));
  FreshMediumData(scratch.Path());
  std::string error;
  if (auto drive = store.LoadDrive(0, error)) AskAsAHost(*drive);
  return 0;
}
