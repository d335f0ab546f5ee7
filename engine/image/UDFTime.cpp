#include "engine/image/UDFTime.h"

namespace kilnor {
namespace {

constexpr std::int32_t kMaxOffsetMinutes = 24 * 60;
constexpr std::uint16_t kTypeLocalTime = 0x1000;

}  // namespace

TUDFTimestamp MakeUDFTimestamp(std::chrono::system_clock::time_point utc,
                               std::int32_t offsetMinutes) {
  using namespace std::chrono;
  if (offsetMinutes < -kMaxOffsetMinutes || offsetMinutes > kMaxOffsetMinutes) offsetMinutes = 0;
  const auto local = floor<seconds>(utc) + minutes(offsetMinutes);
  const auto day = floor<days>(local);
  const year_month_day date{day};
  const hh_mm_ss clock{local - day};

  TUDFTimestamp t;
  t.TypeAndTimezone =
      static_cast<std::uint16_t>(kTypeLocalTime | (static_cast<std::uint16_t>(offsetMinutes) & 0x0FFF));
  t.Year = static_cast<std::int16_t>(static_cast<int>(date.year()));
  t.Month = static_cast<std::uint8_t>(static_cast<unsigned>(date.month()));
  t.Day = static_cast<std::uint8_t>(static_cast<unsigned>(date.day()));
  t.Hour = static_cast<std::uint8_t>(clock.hours().count());
  t.Minute = static_cast<std::uint8_t>(clock.minutes().count());
  t.Second = static_cast<std::uint8_t>(clock.seconds().count());
  return t;
}

}  // namespace kilnor
