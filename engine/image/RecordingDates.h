#pragma once
// Recording dates of directory records (ECMA-119 9.1.5, seven binary bytes)
// and of volume descriptors (ECMA-119 8.4.26.1, seventeen bytes of digits).
// Each date carries the offset from Greenwich that was in force on that
// date, daylight saving included, and a year outside what the field can hold
// is clamped to the nearest date it can hold instead of wrapping.
#include <cstdint>

#include "engine/image/ByteWriter.h"
#include "engine/platform/FindData.h"

namespace kilnor {

inline constexpr std::size_t kDirectoryDateBytes = 7;
inline constexpr std::size_t kVolumeDateBytes = 17;

// Offset from Greenwich, in 15-minute units, in force when the clock on the
// wall showed `local`.
[[nodiscard]] std::int8_t OffsetAtLocalTime(const TSystemTime& local);

// The calendar time now, local.
[[nodiscard]] TSystemTime LocalTimeNow();

// A zero year means the time is unknown; such a date is recorded as "not
// specified" (all zero, or all digits zero for a volume date).
void PutDirectoryDate(TByteWriter& out, const TSystemTime& local);
void PutVolumeDate(TByteWriter& out, const TSystemTime& local);
// A directory record's date of a time in Greenwich time (offset 0).
void PutGreenwichDirectoryDate(TByteWriter& out, const TSystemTime& utc);
void PutUnspecifiedVolumeDate(TByteWriter& out);

}  // namespace kilnor
