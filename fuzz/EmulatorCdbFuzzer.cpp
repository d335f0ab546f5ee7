// Command blocks and data-out bytes of any shape sent to the emulated
// recorder, with a medium of any kind in the tray. Every input starts from a
// fresh drive; a few commands in a row reach the states (written tracks,
// long operations, a changed write page) later commands depend on. The state
// the commands leave must then be kept and restored again, as a drive's
// state directory is across runs. The input, front to back:
//   medium kind (index into the kinds, modulo), tray (bit 0 set: a medium)
//   then per command: CDB length (modulo 17), CDB bytes, direction (modulo
//   3: none, in, out), big-endian transfer length, data-out bytes.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "Drive.h"
#include "InputBytes.h"
#include "MediumKinds.h"
#include "ScratchDirectory.h"
#include "StateStore.h"

namespace {

using namespace velmor::emu;

constexpr std::size_t kMaxCommands = 16;
constexpr std::uint32_t kMediumBlocks = 8192;

void RunCommand(TDrive& drive, kilnor::fuzz::TInputBytes& input) {
  const auto cdb = input.Bytes(input.U8() % 17);
  const auto direction = static_cast<TDirection>(input.U8() % 3);
  std::vector<std::uint8_t> data(input.Be16());
  if (direction == TDirection::Out) {
    const auto out = input.Bytes(data.size());
    std::copy(out.begin(), out.end(), data.begin());
  }
  (void)drive.Execute(cdb, direction, data);
}

// What the commands left must survive a save and a load unchanged in kind.
void CheckKeptState(const TStateStore& store, TDrive& drive) {
  if (!store.SaveState(0, drive)) std::abort();
  std::string error;
  if (store.LoadDrive(0, error) == nullptr) {
    std::fprintf(stderr, "state written by the drive cannot be loaded: %s\n", error.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  static kilnor::fuzz::TScratchDirectory scratch;
  static const TStateStore store(scratch.Path());
  kilnor::fuzz::TInputBytes input({Data, Size});
  TDrive drive(TDriveConfig::Default(), scratch.Path());
  const auto kinds = AllMediumKinds();
  const TMediumKind kind = kinds[input.U8() % kinds.size()].Kind;
  std::string error;
  if ((input.U8() & 1) && !drive.InsertNew(kind, kMediumBlocks, {}, error)) std::abort();
  for (std::size_t i = 0; i < kMaxCommands && !input.Empty(); ++i) RunCommand(drive, input);
  drive.Shutdown();
  CheckKeptState(store, drive);
  drive.RemoveMedium();
  return 0;
}
