#include "servertime/eastern_zone.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace k5_mkview {
namespace {

using namespace std::chrono;

std::int64_t WallSeconds(sys_days day, hours hour) {
  return (sys_seconds{day} + hour).time_since_epoch().count();
}

// The US calendar since 2007, read on the wall clock: daylight saving from the end of the skipped
// hour (second Sunday of March, 03:00) up to the start of the repeated hour (first Sunday of
// November, 01:00).
struct UsDaylightPeriod {
  std::int64_t from;
  std::int64_t until;
};

UsDaylightPeriod UsCalendar(int y) {
  return {WallSeconds(sys_days{year{y} / March / Sunday[2]}, hours{3}),
          WallSeconds(sys_days{year{y} / November / Sunday[1]}, hours{1})};
}

std::string WallText(std::int64_t local_seconds) {
  const sys_seconds t{seconds{local_seconds}};
  const sys_days day = floor<days>(t);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{t - day};
  return std::to_string(static_cast<int>(date.year())) + "-" +
         std::to_string(static_cast<unsigned>(date.month())) + "-" +
         std::to_string(static_cast<unsigned>(date.day())) + " " +
         std::to_string(time.hours().count()) + ":" + std::to_string(time.minutes().count()) + ":" +
         std::to_string(time.seconds().count());
}

// The two platform files must agree, so each is held to the calendar on whatever build runs it:
// every hour of 2007 to 2037, and the last standard and first daylight second at each end.
TEST(EasternZoneTest, EveryHourFrom2007To2037FollowsTheUsCalendar) {
  std::unique_ptr<const EasternZone> zone = LoadEasternZone(DefaultEasternZoneId());
  int mismatches = 0;
  std::string examples;
  auto check = [&](std::int64_t local, bool expected) {
    if (zone->IsDaylightSavingWallTime(local) == expected) return;
    if (++mismatches <= 5) {
      examples += "\n  " + WallText(local) + (expected ? " should be daylight" : " should not be");
    }
  };
  for (int y = 2007; y <= 2037; ++y) {
    const UsDaylightPeriod period = UsCalendar(y);
    const std::int64_t first = WallSeconds(sys_days{year{y} / January / 1}, hours{0});
    const std::int64_t end = WallSeconds(sys_days{year{y + 1} / January / 1}, hours{0});
    for (std::int64_t local = first; local < end; local += 3600) {
      check(local, local >= period.from && local < period.until);
    }
    check(period.from - 1, false);
    check(period.from, true);
    check(period.until - 1, true);
    check(period.until, false);
  }
  EXPECT_EQ(mismatches, 0) << "zone \"" << DefaultEasternZoneId() << "\":" << examples;
}

}  // namespace
}  // namespace k5_mkview
