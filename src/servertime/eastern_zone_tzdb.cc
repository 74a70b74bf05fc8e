// US Eastern time from the tz database that the system carries, read through the date/tz library.

#include <date/tz.h>

#include <chrono>
#include <exception>
#include <stdexcept>
#include <string>

#include "common/failure.h"
#include "servertime/eastern_zone.h"

namespace k5_mkview {
namespace {

class TzdbEasternZone final : public EasternZone {
 public:
  // `zone` belongs to the library's database, which lives as long as the process.
  explicit TzdbEasternZone(const date::time_zone* zone) : zone_(zone) {}

  bool IsDaylightSavingWallTime(std::int64_t local_seconds) const override {
    date::local_info info;
    try {
      info = zone_->get_info(date::local_seconds{std::chrono::seconds{local_seconds}});
    } catch (const std::exception& e) {
      throw Failure("the rules of time zone \"" + zone_->name() + "\" for the wall-clock time " +
                    std::to_string(local_seconds) + " are not available: " + e.what());
    }
    // The skipped hour is `nonexistent` and the repeated hour `ambiguous`: both count as standard.
    return info.result == date::local_info::unique && info.first.save != std::chrono::minutes{0};
  }

 private:
  const date::time_zone* zone_;
};

}  // namespace

std::unique_ptr<const EasternZone> LoadEasternZone(std::string_view zone_id) {
  try {
    return std::make_unique<TzdbEasternZone>(date::locate_zone(zone_id));
  } catch (const std::runtime_error& e) {
    // The library reports an unknown zone and an unreadable database alike as runtime_error.
    throw Failure("time zone \"" + std::string(zone_id) +
                  "\" is not available in the system's time-zone database: " + e.what());
  }
}

std::string_view DefaultEasternZoneId() { return "America/New_York"; }

}  // namespace k5_mkview
