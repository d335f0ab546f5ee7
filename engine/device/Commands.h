#pragma once
// The SCSI commands the engine sends, one function each: CDB length, data
// direction and transfer length are stated where the command is built.
#include <cstdint>
#include <span>

#include "engine/device/SCSILib.h"

namespace kilnor {

inline constexpr std::uint32_t kInquiryLength = 64;

// TEST UNIT READY (00h): no data.
bool TestUnitReady(TSCSIDevice& Dev);
// INQUIRY (12h): 64 bytes into Buffer, which must hold at least that many.
// Dev.LastTransferLength tells how many the drive returned.
bool Inquiry(TSCSIDevice& Dev, std::span<std::uint8_t> Buffer);

}  // namespace kilnor
