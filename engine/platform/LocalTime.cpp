#include "engine/platform/LocalTime.h"

#include <chrono>
#include <ctime>

#ifdef _WIN32
#include <windows.h>
#endif

namespace kilnor {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::int64_t kTicksPerMillisecond = 10'000;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kUnixEpochDays = kFileTimeUnixEpochSeconds / kSecondsPerDay;

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
  year -= month <= 2;
  const std::int64_t era = FloorDiv(year, 400);
  const auto yearOfEra = static_cast<unsigned>(year - era * 400);
  const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(std::int64_t days, std::int64_t& year, unsigned& month, unsigned& day) {
  days += 719468;
  const std::int64_t era = FloorDiv(days, 146097);
  const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
  const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
  day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  year = static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2);
}

}  // namespace

TFileTime FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
  const std::int64_t since1601 = seconds + kFileTimeUnixEpochSeconds;
  if (since1601 < 0) return 0;
  return static_cast<TFileTime>(since1601) * kFileTimeTicksPerSecond +
         static_cast<TFileTime>(nanoseconds / 100);
}

std::int64_t UnixSecondsOfFileTime(TFileTime time) {
  return static_cast<std::int64_t>(time / kFileTimeTicksPerSecond) - kFileTimeUnixEpochSeconds;
}

TFileTime CurrentFileTime() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  return FileTimeFromUnix(nanoseconds / 1'000'000'000, nanoseconds % 1'000'000'000);
}

TSystemTime CalendarOfFileTime(TFileTime time) {
  const auto totalSeconds = static_cast<std::int64_t>(time / kFileTimeTicksPerSecond);
  const std::int64_t days = totalSeconds / kSecondsPerDay;
  const std::int64_t secondOfDay = totalSeconds % kSecondsPerDay;
  std::int64_t year = 0;
  unsigned month = 0;
  unsigned day = 0;
  CivilFromDays(days - kUnixEpochDays, year, month, day);
  TSystemTime calendar;
  calendar.wYear = static_cast<std::uint16_t>(year);
  calendar.wMonth = static_cast<std::uint16_t>(month);
  calendar.wDay = static_cast<std::uint16_t>(day);
  calendar.wDayOfWeek = static_cast<std::uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  calendar.wHour = static_cast<std::uint16_t>(secondOfDay / 3600);
  calendar.wMinute = static_cast<std::uint16_t>(secondOfDay / 60 % 60);
  calendar.wSecond = static_cast<std::uint16_t>(secondOfDay % 60);
  calendar.wMilliseconds =
      static_cast<std::uint16_t>(time % kFileTimeTicksPerSecond / kTicksPerMillisecond);
  return calendar;
}

TFileTime FileTimeOfCalendar(const TSystemTime& calendar) {
  const std::int64_t days =
      DaysFromCivil(calendar.wYear, calendar.wMonth, calendar.wDay) + kUnixEpochDays;
  const std::int64_t seconds =
      days * kSecondsPerDay + calendar.wHour * 3600 + calendar.wMinute * 60 + calendar.wSecond;
  if (seconds < 0) return 0;
  return static_cast<TFileTime>(seconds) * kFileTimeTicksPerSecond +
         static_cast<TFileTime>(calendar.wMilliseconds) * kTicksPerMillisecond;
}

#ifdef _WIN32
std::int32_t UtcOffsetMinutes(TFileTime utc) {
  FILETIME fileTime{static_cast<DWORD>(utc), static_cast<DWORD>(utc >> 32)};
  SYSTEMTIME universal{};
  SYSTEMTIME local{};
  if (!::FileTimeToSystemTime(&fileTime, &universal) ||
      !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
    return 0;
  }
  const TFileTime localTime = FileTimeOfCalendar(TSystemTime{
      local.wYear, local.wMonth, local.wDayOfWeek, local.wDay, local.wHour, local.wMinute,
      local.wSecond, local.wMilliseconds});
  const auto difference = static_cast<std::int64_t>(localTime) - static_cast<std::int64_t>(utc);
  return static_cast<std::int32_t>(FloorDiv(difference, 60 * kFileTimeTicksPerSecond));
}
#else
std::int32_t UtcOffsetMinutes(TFileTime utc) {
  const auto seconds = static_cast<std::time_t>(UnixSecondsOfFileTime(utc));
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return 0;
  return static_cast<std::int32_t>(FloorDiv(local.tm_gmtoff, 60));
}
#endif

std::int32_t UtcOffsetQuarterHours(TFileTime utc) {
  return static_cast<std::int32_t>(FloorDiv(UtcOffsetMinutes(utc), 15));
}

TFileTime LocalFileTimeOf(TFileTime utc) {
  const std::int64_t shifted = static_cast<std::int64_t>(utc) +
                               std::int64_t{UtcOffsetMinutes(utc)} * 60 * kFileTimeTicksPerSecond;
  return shifted < 0 ? 0 : static_cast<TFileTime>(shifted);
}

TSystemTime LocalCalendarOfFileTime(TFileTime utc) { return CalendarOfFileTime(LocalFileTimeOf(utc)); }

}  // namespace kilnor
