#pragma once
// File times (100-nanosecond intervals since 1601-01-01 UTC), calendar times,
// and the local time zone as it was at a given instant.
//
// Local time follows the zone rules in force at the instant converted, with
// its own daylight-saving state: a winter date stays a winter date whatever
// the season the conversion runs in.
#include <cstdint>

#include "engine/platform/FindData.h"

namespace kilnor {

inline constexpr std::int64_t kFileTimeTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr std::int64_t kFileTimeUnixEpochSeconds = 11'644'473'600;

// Times before 1601 clamp to 0.
[[nodiscard]] TFileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds);
[[nodiscard]] std::int64_t UnixSecondsOfFileTime(TFileTime time);
[[nodiscard]] TFileTime CurrentFileTime();

// Calendar form of a file time without any zone shift, and back.
[[nodiscard]] TSystemTime CalendarOfFileTime(TFileTime time);
[[nodiscard]] TFileTime FileTimeOfCalendar(const TSystemTime& calendar);

// Offset of local time from Greenwich at the instant `utc`, east positive.
[[nodiscard]] std::int32_t UtcOffsetMinutes(TFileTime utc);
// The same in 15-minute units, rounded towards minus infinity.
[[nodiscard]] std::int32_t UtcOffsetQuarterHours(TFileTime utc);

[[nodiscard]] TFileTime LocalFileTimeOf(TFileTime utc);
[[nodiscard]] TSystemTime LocalCalendarOfFileTime(TFileTime utc);

}  // namespace kilnor
