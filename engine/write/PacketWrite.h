#pragma once
// One WRITE (10) or READ (10) of a packet, straight from or into where the
// packet lies, sent again while the drive is busy or not ready.
#include <cstdint>
#include <span>

#include "engine/device/SCSILib.h"
#include "engine/image/TreeTypes.h"

namespace kilnor {

// Writes Packet (whole sectors) at Lba. A drive that answers busy, not
// ready or without sense is asked again every 100 ms, at most 5,000 times
// for one packet. False, with the failed WRITE's own reason recorded (or
// "busy" when it never gave one), after any other failure, after the last
// try, or when the operation is aborted.
[[nodiscard]] bool WritePacket(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Lba,
                               std::span<const std::uint8_t> Packet);
// The same, leaving the reason of a failure in the device record only, for a
// caller that may still recover from it.
[[nodiscard]] bool TryWritePacket(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Lba,
                                  std::span<const std::uint8_t> Packet);
// Reads Blocks sectors from Lba into Buffer, asked again as WritePacket asks;
// false after any other failure, after the last try, or when aborted.
[[nodiscard]] bool ReadPacket(TCDFiles& CDFiles, TSCSIDevice& Device, std::uint32_t Lba, std::uint16_t Blocks,
                              std::span<std::uint8_t> Buffer);

}  // namespace kilnor
