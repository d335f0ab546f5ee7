#pragma once
// Answers that only say a drive is getting over something: a unit attention
// after a medium change or a reset, and "becoming ready" while it spins a
// disc up. A query that meets one is sent again, a bounded number of times,
// before its answer is taken as the drive's word.
#include <chrono>
#include <cstdint>
#include <functional>

#include "engine/device/WNASPI32.h"

namespace kilnor {

// Sends of one request in all, at most; a drive still becoming ready after
// them is reported as it answers.
inline constexpr int kSettleAttempts = 30;
// The wait before a request that met "becoming ready" is sent again; a unit
// attention is reported once, so its request goes again at once.
inline constexpr std::chrono::seconds kBecomingReadyPause{1};

// 6/28/xx (medium may have changed), 6/29/xx (power on, reset) and 2/04/01
// (becoming ready).
[[nodiscard]] bool IsPassingCondition(std::uint8_t SenseKey, std::uint8_t Asc, std::uint8_t Ascq);

// Calls Send with Srb and, while the request fails with a passing condition
// in its (fixed-format) sense area, sends it again with its status, sense
// area and transfer length as they were first, waiting through Clock()
// where the condition asks for it. Srb keeps the last answer; Send returns
// the request's final status.
std::uint8_t SendUntilSettled(TSRB_ExecSCSICmd& Srb,
                              const std::function<std::uint8_t(TSRB_ExecSCSICmd&)>& Send);

}  // namespace kilnor
