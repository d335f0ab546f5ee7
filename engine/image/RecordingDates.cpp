#include "engine/image/RecordingDates.h"

#include <algorithm>
#include <ctime>
#include <mutex>

namespace kilnor {
namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

std::int64_t SecondsOf(const std::tm& t) {
  return DaysFromCivil(t.tm_year + 1900LL, static_cast<unsigned>(t.tm_mon + 1),
                       static_cast<unsigned>(t.tm_mday)) * 86400 +
         t.tm_hour * 3600LL + t.tm_min * 60LL + t.tm_sec;
}

bool ToUtc(std::time_t when, std::tm& out) {
#ifdef _WIN32
  return gmtime_s(&out, &when) == 0;
#else
  return gmtime_r(&when, &out) != nullptr;
#endif
}

bool ToLocal(std::time_t when, std::tm& out) {
#ifdef _WIN32
  return localtime_s(&out, &when) == 0;
#else
  return localtime_r(&when, &out) != nullptr;
#endif
}

// Offset in seconds of the local time described by `local` (fields as the
// clock on the wall showed them), asking the system's time-zone rules.
bool LocalOffsetSeconds(const TSystemTime& local, std::int64_t& offset) {
  std::tm wall{};
  wall.tm_year = local.wYear - 1900;
  wall.tm_mon = local.wMonth - 1;
  wall.tm_mday = local.wDay;
  wall.tm_hour = local.wHour;
  wall.tm_min = local.wMinute;
  wall.tm_sec = local.wSecond;
  wall.tm_isdst = -1;
  const std::time_t instant = std::mktime(&wall);
  std::tm utc{};
  if (instant == static_cast<std::time_t>(-1) || !ToUtc(instant, utc)) return false;
  offset = SecondsOf(wall) - SecondsOf(utc);
  return true;
}

// Offsets change a few times a year; a directory holds many files of the
// same hour, so the last answer is kept.
struct TOffsetMemo {
  std::mutex lock;
  std::uint32_t key = 0xFFFFFFFF;
  std::int8_t value = 0;
};

std::int8_t QuarterHours(std::int64_t seconds) {
  const std::int64_t quarters = seconds >= 0 ? seconds / 900 : -((-seconds + 899) / 900);
  return static_cast<std::int8_t>(std::clamp<std::int64_t>(quarters, -48, 52));
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

// A decimal number of exactly `width` digits.
void PutDigits(TByteWriter& out, unsigned value, int width) {
  char digits[4];
  for (int i = width - 1; i >= 0; --i, value /= 10) digits[i] = static_cast<char>('0' + value % 10);
  out.put_text({digits, static_cast<std::size_t>(width)});
}

}  // namespace

std::int8_t UtcOffsetQuarterHours(const TSystemTime& local) {
  static TOffsetMemo memo;
  const std::uint32_t key = (static_cast<std::uint32_t>(local.wYear) << 16) |
                            (static_cast<std::uint32_t>(local.wMonth & 0xF) << 12) |
                            (static_cast<std::uint32_t>(local.wDay & 0x1F) << 5) | (local.wHour & 0x1F);
  std::lock_guard<std::mutex> guard(memo.lock);
  if (key == memo.key) return memo.value;
  std::int64_t seconds = 0;
  if (!LocalOffsetSeconds(local, seconds) && !LocalOffsetSeconds(LocalTimeNow(), seconds)) seconds = 0;
  memo.key = key;
  memo.value = QuarterHours(seconds);
  return memo.value;
}

TSystemTime LocalTimeNow() {
  std::tm now{};
  if (!ToLocal(std::time(nullptr), now)) return {};
  return TSystemTime{static_cast<std::uint16_t>(now.tm_year + 1900),
                     static_cast<std::uint16_t>(now.tm_mon + 1),
                     static_cast<std::uint16_t>(now.tm_wday),
                     static_cast<std::uint16_t>(now.tm_mday),
                     static_cast<std::uint16_t>(now.tm_hour),
                     static_cast<std::uint16_t>(now.tm_min),
                     static_cast<std::uint16_t>(std::min(now.tm_sec, 59)),
                     0};
}

void PutDirectoryDate(TByteWriter& out, const TSystemTime& local) {
  if (Unknown(local)) {
    out.put_zeros(kDirectoryDateBytes);
    return;
  }
  const TSystemTime t = Clamped(local, 1900, 1900 + 255);
  out.put_u8(static_cast<std::uint8_t>(t.wYear - 1900));
  out.put_u8(static_cast<std::uint8_t>(t.wMonth));
  out.put_u8(static_cast<std::uint8_t>(t.wDay));
  out.put_u8(static_cast<std::uint8_t>(t.wHour));
  out.put_u8(static_cast<std::uint8_t>(t.wMinute));
  out.put_u8(static_cast<std::uint8_t>(t.wSecond));
  out.put_u8(static_cast<std::uint8_t>(UtcOffsetQuarterHours(t)));
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
  out.put_u8(static_cast<std::uint8_t>(UtcOffsetQuarterHours(t)));
}

void PutUnspecifiedVolumeDate(TByteWriter& out) {
  out.put_fill(16, '0');
  out.put_u8(0);
}

}  // namespace kilnor
