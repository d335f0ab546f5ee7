#include "engine/image/RecordingDates.h"

#include <algorithm>
#include <mutex>

#include "engine/platform/LocalTime.h"

namespace kilnor {
namespace {

// Offsets change a few times a year; a directory holds many files of the
// same hour, so the last answer is kept.
struct TOffsetMemo {
  std::mutex lock;
  std::uint32_t key = 0xFFFFFFFF;
  std::int8_t value = 0;
};

std::uint32_t HourKey(const TSystemTime& t) {
  return (static_cast<std::uint32_t>(t.wYear) << 16) | (static_cast<std::uint32_t>(t.wMonth & 0xF) << 12) |
         (static_cast<std::uint32_t>(t.wDay & 0x1F) << 5) | (t.wHour & 0x1F);
}

// The instant a wall-clock time stands for: shifted once by the offset of a
// nearby instant, then by the offset in force at the result.
std::int32_t OffsetQuarterHoursOfWallClock(const TSystemTime& local) {
  const TFileTime asIfUtc = FileTimeOfCalendar(local);
  const auto shift = [&](std::int32_t minutes) {
    return asIfUtc - static_cast<TFileTime>(std::int64_t{minutes} * 60 * kFileTimeTicksPerSecond);
  };
  return UtcOffsetQuarterHours(shift(UtcOffsetMinutes(shift(UtcOffsetMinutes(asIfUtc)))));
}

TSystemTime Clamped(const TSystemTime& t, int firstYear, int lastYear) {
  if (t.wYear < firstYear) return TSystemTime{static_cast<std::uint16_t>(firstYear), 1, 0, 1, 0, 0, 0, 0};
  if (t.wYear > lastYear) return TSystemTime{static_cast<std::uint16_t>(lastYear), 12, 0, 31, 23, 59, 59, 999};
  TSystemTime c = t;
  c.wMonth = std::clamp<std::uint16_t>(c.wMonth, 1, 12);
  c.wDay = std::clamp<std::uint16_t>(c.wDay, 1, 31);
  c.wHour = std::min<std::uint16_t>(c.wHour, 23);
  c.wMinute = std::min<std::uint16_t>(c.wMinute, 59);
  c.wSecond = std::min<std::uint16_t>(c.wSecond, 59);
  c.wMilliseconds = std::min<std::uint16_t>(c.wMilliseconds, 999);
  return c;
}

bool Unknown(const TSystemTime& t) { return t.wYear == 0; }

// A date already clamped to the field's years, with its offset.
void PutSevenByteDate(TByteWriter& out, const TSystemTime& t, std::int8_t offset) {
  out.put_u8(static_cast<std::uint8_t>(t.wYear - 1900));
  out.put_u8(static_cast<std::uint8_t>(t.wMonth));
  out.put_u8(static_cast<std::uint8_t>(t.wDay));
  out.put_u8(static_cast<std::uint8_t>(t.wHour));
  out.put_u8(static_cast<std::uint8_t>(t.wMinute));
  out.put_u8(static_cast<std::uint8_t>(t.wSecond));
  out.put_u8(static_cast<std::uint8_t>(offset));
}

// A decimal number of exactly `width` digits.
void PutDigits(TByteWriter& out, unsigned value, int width) {
  char digits[4];
  for (int i = width - 1; i >= 0; --i, value /= 10) digits[i] = static_cast<char>('0' + value % 10);
  out.put_text({digits, static_cast<std::size_t>(width)});
}

}  // namespace

std::int8_t OffsetAtLocalTime(const TSystemTime& local) {
  static TOffsetMemo memo;
  const std::uint32_t key = HourKey(local);
  std::lock_guard<std::mutex> guard(memo.lock);
  if (key != memo.key) {
    memo.key = key;
    memo.value = static_cast<std::int8_t>(std::clamp(OffsetQuarterHoursOfWallClock(local), -48, 52));
  }
  return memo.value;
}

TSystemTime LocalTimeNow() { return LocalCalendarOfFileTime(CurrentFileTime()); }

void PutDirectoryDate(TByteWriter& out, const TSystemTime& local) {
  if (Unknown(local)) {
    out.put_zeros(kDirectoryDateBytes);
    return;
  }
  const TSystemTime t = Clamped(local, 1900, 1900 + 255);
  PutSevenByteDate(out, t, OffsetAtLocalTime(t));
}

void PutGreenwichDirectoryDate(TByteWriter& out, const TSystemTime& utc) {
  PutSevenByteDate(out, Clamped(utc, 1900, 1900 + 255), 0);
}

void PutVolumeDate(TByteWriter& out, const TSystemTime& local) {
  if (Unknown(local)) {
    PutUnspecifiedVolumeDate(out);
    return;
  }
  const TSystemTime t = Clamped(local, 1, 9999);
  PutDigits(out, t.wYear, 4);
  PutDigits(out, t.wMonth, 2);
  PutDigits(out, t.wDay, 2);
  PutDigits(out, t.wHour, 2);
  PutDigits(out, t.wMinute, 2);
  PutDigits(out, t.wSecond, 2);
  PutDigits(out, t.wMilliseconds / 10u, 2);
  out.put_u8(static_cast<std::uint8_t>(OffsetAtLocalTime(t)));
}

void PutUnspecifiedVolumeDate(TByteWriter& out) {
  out.put_fill(16, '0');
  out.put_u8(0);
}

}  // namespace kilnor
