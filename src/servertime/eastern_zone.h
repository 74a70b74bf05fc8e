#ifndef K5_MKVIEW_SERVERTIME_EASTERN_ZONE_H_
#define K5_MKVIEW_SERVERTIME_EASTERN_ZONE_H_

#include <cstdint>
#include <memory>
#include <string_view>

namespace k5_mkview {

// US Eastern time as the platform's own time-zone data gives it, with each year's rules. One file
// per platform implements this header: the tz database natively, the system's zone data on Windows.
class EasternZone {
 public:
  virtual ~EasternZone() = default;

  // Whether `local_seconds`, a wall-clock time in the zone counted in seconds from 1970-01-01
  // 00:00:00, falls in daylight saving time. A wall-clock time inside the hour skipped by the
  // spring changeover or inside the hour repeated by the autumn changeover counts as standard time,
  // so in 2019 daylight saving runs from 10 March 03:00:00 to 3 November 00:59:59. Safe to call
  // from several threads at once. Throws Failure when the platform cannot give that year's rules.
  virtual bool IsDaylightSavingWallTime(std::int64_t local_seconds) const = 0;
};

// Looks up the zone `zone_id` in the platform's data; never returns null. Throws Failure naming the
// id when the platform does not know it.
std::unique_ptr<const EasternZone> LoadEasternZone(std::string_view zone_id);

// The id under which this platform knows US Eastern time: "America/New_York" in the tz database,
// "Eastern Standard Time" on Windows.
std::string_view DefaultEasternZoneId();

}  // namespace k5_mkview

#endif  // K5_MKVIEW_SERVERTIME_EASTERN_ZONE_H_
