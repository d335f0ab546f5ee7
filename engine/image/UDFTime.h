#pragma once
// The one timestamp a UDF session carries: local time with its offset from
// Greenwich time, so the recorded instant is exact in every time zone.
#include <chrono>
#include <cstdint>

#include "engine/image/UDFTypes.h"

namespace kilnor {

// Greenwich time `utc` as seen at `offsetMinutes` east of Greenwich (type 1,
// local time), to the second. An offset outside ±24 h is recorded as Greenwich time.
[[nodiscard]] TUDFTimestamp MakeUDFTimestamp(std::chrono::system_clock::time_point utc,
                                             std::int32_t offsetMinutes);

}  // namespace kilnor
