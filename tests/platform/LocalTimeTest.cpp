#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "engine/platform/LocalTime.h"

using namespace kilnor;

namespace {

// Sets a POSIX time-zone rule for the test's scope.
class ZoneOverride {
 public:
  explicit ZoneOverride(const char* rule) {
    if (const char* old = std::getenv("TZ")) saved_ = old, hadOld_ = true;
    setenv("TZ", rule, 1);
    tzset();
  }
  ~ZoneOverride() {
    if (hadOld_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string saved_;
  bool hadOld_ = false;
};

constexpr std::int64_t kWinterNoon2024 = 1'705'320'000;  // 2024-01-15 12:00:00 UTC
constexpr std::int64_t kSummerNoon2024 = 1'721'044'800;  // 2024-07-15 12:00:00 UTC

TEST(LocalTime, CalendarRoundTrip) {
  const TFileTime time = FileTimeFromUnix(kWinterNoon2024, 123'000'000);
  const TSystemTime calendar = CalendarOfFileTime(time);
  EXPECT_EQ(calendar.wYear, 2024);
  EXPECT_EQ(calendar.wMonth, 1);
  EXPECT_EQ(calendar.wDay, 15);
  EXPECT_EQ(calendar.wDayOfWeek, 1);  // Monday
  EXPECT_EQ(calendar.wHour, 12);
  EXPECT_EQ(calendar.wMinute, 0);
  EXPECT_EQ(calendar.wMilliseconds, 123);
  EXPECT_EQ(FileTimeOfCalendar(calendar), time);

  const TSystemTime first = CalendarOfFileTime(0);
  EXPECT_EQ(first.wYear, 1601);
  EXPECT_EQ(first.wDayOfWeek, 1);
  const TSystemTime leap = CalendarOfFileTime(FileTimeFromUnix(951'782'400, 0));  // 2000-02-29
  EXPECT_EQ(leap.wMonth, 2);
  EXPECT_EQ(leap.wDay, 29);
  EXPECT_EQ(FileTimeFromUnix(-kFileTimeUnixEpochSeconds - 1, 0), 0u);
}

TEST(LocalTime, OffsetFollowsDaylightSavingOfTheInstant) {
  struct Case {
    const char* rule;
    std::int64_t instant;
    std::int32_t quarterHours;
  };
  const Case cases[] = {
      {"UTC0", kWinterNoon2024, 0},
      {"EST5EDT,M3.2.0,M11.1.0", kWinterNoon2024, -20},
      {"EST5EDT,M3.2.0,M11.1.0", kSummerNoon2024, -16},
      {"CET-1CEST,M3.5.0,M10.5.0/3", kWinterNoon2024, 4},
      {"CET-1CEST,M3.5.0,M10.5.0/3", kSummerNoon2024, 8},
      {"IST-5:30", kWinterNoon2024, 22},
      {"NST3:30NDT,M3.2.0,M11.1.0", kWinterNoon2024, -14},
      {"ACST-9:30ACDT,M10.1.0,M4.1.0/3", kWinterNoon2024, 42},
  };
  for (const Case& c : cases) {
    ZoneOverride zone(c.rule);
    EXPECT_EQ(UtcOffsetQuarterHours(FileTimeFromUnix(c.instant, 0)), c.quarterHours) << c.rule;
  }
}

TEST(LocalTime, LocalCalendarShiftsByTheOffsetOfTheInstant) {
  ZoneOverride zone("EST5EDT,M3.2.0,M11.1.0");
  const TSystemTime winter = LocalCalendarOfFileTime(FileTimeFromUnix(kWinterNoon2024, 0));
  EXPECT_EQ(winter.wHour, 7);
  const TSystemTime summer = LocalCalendarOfFileTime(FileTimeFromUnix(kSummerNoon2024, 0));
  EXPECT_EQ(summer.wHour, 8);
  const TSystemTime dayBefore = LocalCalendarOfFileTime(FileTimeFromUnix(1'704'067'200, 0));  // 2024-01-01 00:00 UTC
  EXPECT_EQ(dayBefore.wYear, 2023);
  EXPECT_EQ(dayBefore.wMonth, 12);
  EXPECT_EQ(dayBefore.wDay, 31);
  EXPECT_EQ(dayBefore.wHour, 19);
}

}  // namespace
