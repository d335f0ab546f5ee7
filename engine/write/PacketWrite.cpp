#include "engine/write/PacketWrite.h"

#include <chrono>

#include "engine/device/Commands.h"
#include "engine/platform/Clock.h"
#include "engine/write/DiscTarget.h"
#include "engine/write/ErrorTexts.h"

namespace kilnor {
namespace {

constexpr std::uint8_t kNoSense = 0x00;
constexpr std::uint32_t kMaxTries = 5000;
constexpr std::chrono::milliseconds kRetryPause{100};

[[nodiscard]] bool WorthRetrying(const TSCSIDevice& Device) {
  const std::uint8_t code = Device.LastSenseInfo.AddSenseCode;
  return Device.TargetBusy || code == kAscNotReady || code == kNoSense;
}

// Sends while the drive answers busy, not ready or without sense.
template <typename TSend>
[[nodiscard]] bool SendRetried(TCDFiles& CDFiles, TSCSIDevice& Device, TSend Send) {
  for (std::uint32_t tries = 0;;) {
    if (CDFiles.Aborted) return false;
    if (Send()) return true;
    if (!WorthRetrying(Device) || ++tries >= kMaxTries) return false;
    Clock().sleep_for(kRetryPause);
  }
}

}  // namespace

bool TryWritePacket(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Lba, std::span<const std::uint8_t> Packet) {
  const auto blocks = static_cast<std::uint16_t>(Packet.size() / kSectorBytes);
  const auto bytes = static_cast<std::uint32_t>(Packet.size());
  return SendRetried(CDFiles, Device, [&] { return Write10(Device, Lba, blocks, bytes, Packet); });
}

bool ReadPacket(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Lba, std::uint16_t Blocks,
                std::span<std::uint8_t> Buffer) {
  return SendRetried(CDFiles, Device, [&] { return Read10(Device, Lba, Blocks, Buffer); });
}

bool WritePacket(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Lba, std::span<const std::uint8_t> Packet) {
  if (TryWritePacket(CDFiles, Device, Lba, Packet)) return true;
  if (!CDFiles.Aborted) RecordDriveError(CDFiles, Device, erDriveBusy);
  return false;
}

}  // namespace kilnor
