#include "servertime/time_util.h"

#include <chrono>
#include <string_view>
#include <utility>

namespace k5_mkview {
namespace {

constexpr std::int64_t kSecondsPerHour = 60 * 60;

struct Offsets {
  int summer;
  int winter;
};

// Only -5 to +3 hours ever occur, so each offset fits in half of one atomic word: a 32-bit word is
// lock-free on every target, a pair of ints in one 64-bit word is not on 32-bit Windows.
constexpr std::uint32_t Pack(int summer, int winter) {
  return (std::uint32_t{static_cast<std::uint16_t>(summer)} << 16) |
         std::uint32_t{static_cast<std::uint16_t>(winter)};
}

Offsets Unpack(std::uint32_t word) {
  return {static_cast<std::int16_t>(word >> 16), static_cast<std::int16_t>(word & 0xFFFF)};
}

constexpr std::uint32_t kInitialOffsets = Pack(-1, -1);
constexpr std::uint32_t kPlusTwoServerOffsets = Pack(3, 2);
constexpr std::uint32_t kEasternServerOffsets = Pack(-4, -5);

// Writes the decimal digits of `value` (not negative) with leading zeros up to `width`, by hand so
// that no locale can change them.
void AppendDigits(std::string& out, int value, int width) {
  char digits[12];
  int count = 0;
  auto rest = static_cast<unsigned>(value);
  do {
    digits[count++] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  while (count < width) digits[count++] = '0';
  while (count > 0) out += digits[--count];
}

}  // namespace

Mutex TimeUtil::lockObj;
std::atomic<std::uint32_t> TimeUtil::conversionOffsets{kInitialOffsets};
Mutex TimeUtil::zoneLock;
std::optional<std::string> TimeUtil::zoneIdForTesting;
std::unique_ptr<const EasternZone> TimeUtil::easternZoneOwner;
std::optional<Failure> TimeUtil::zoneFailure;
std::atomic<const EasternZone*> TimeUtil::easternZone{nullptr};

void TimeUtil::InitTimeZoneInfo(int gmtServerOffset) {
  MutexLock guard(lockObj);
  Init(gmtServerOffset);
}

void TimeUtil::Init(int offset) {
  Zone();  // the first use looks the zone up; when it is missing the offsets stay as they are
  const bool plus_two_server = offset == 2 || offset == 3;
  conversionOffsets.store(plus_two_server ? kPlusTwoServerOffsets : kEasternServerOffsets,
                          std::memory_order_release);
}

ServerDateTime TimeUtil::ToServerDateTime(std::int32_t mt4Timestamp) {
  using namespace std::chrono;
  const EasternZone& zone = Zone();
  const Offsets offsets = Unpack(conversionOffsets.load(std::memory_order_acquire));
  // In 64 bits: within five hours of either end of the 32-bit range a candidate leaves it.
  const std::int64_t summer = std::int64_t{mt4Timestamp} - offsets.summer * kSecondsPerHour;
  const std::int64_t winter = std::int64_t{mt4Timestamp} - offsets.winter * kSecondsPerHour;
  // The candidates are UTC moments, yet the rule reads them as Eastern wall-clock times. That is
  // the rule the service's callers rely on, also in the hours where it differs from a UTC reading.
  const bool both_daylight =
      zone.IsDaylightSavingWallTime(summer) && zone.IsDaylightSavingWallTime(winter);
  const sys_seconds moment{seconds{both_daylight ? summer : winter}};
  const sys_days day = floor<days>(moment);
  const year_month_day date{day};
  const hh_mm_ss<seconds> time{moment - day};
  return {static_cast<int>(date.year()),
          static_cast<int>(static_cast<unsigned>(date.month())),
          static_cast<int>(static_cast<unsigned>(date.day())),
          static_cast<int>(time.hours().count()),
          static_cast<int>(time.minutes().count()),
          static_cast<int>(time.seconds().count())};
}

std::string TimeUtil::ToServerDateString(std::int32_t mt4Timestamp) {
  // Every 32-bit bar time lies between 1901 and 2038, so the year always has four digits.
  const ServerDateTime t = ToServerDateTime(mt4Timestamp);
  std::string text;
  text.reserve(20);
  AppendDigits(text, t.year, 4);
  text += '-';
  AppendDigits(text, t.month, 2);
  text += '-';
  AppendDigits(text, t.day, 2);
  text += 'T';
  AppendDigits(text, t.hour, 2);
  text += ':';
  AppendDigits(text, t.minute, 2);
  text += ':';
  AppendDigits(text, t.second, 2);
  text += 'Z';
  return text;
}

void TimeUtil::ResetForTesting(std::optional<std::string> zone_id) {
  MutexLock guard(zoneLock);
  easternZone.store(nullptr, std::memory_order_release);
  easternZoneOwner.reset();
  zoneFailure.reset();
  zoneIdForTesting = std::move(zone_id);
  conversionOffsets.store(kInitialOffsets, std::memory_order_release);
}

const EasternZone& TimeUtil::Zone() {
  if (const EasternZone* zone = easternZone.load(std::memory_order_acquire)) return *zone;
  MutexLock guard(zoneLock);
  if (zoneFailure) throw *zoneFailure;
  if (!easternZoneOwner) {
    try {
      easternZoneOwner = LoadEasternZone(zoneIdForTesting ? std::string_view(*zoneIdForTesting)
                                                          : DefaultEasternZoneId());
    } catch (const Failure& failure) {
      // Remembered: the platform's zones do not change while the library is loaded, and every
      // later call must report the same cause.
      zoneFailure = failure;
      throw;
    }
    easternZone.store(easternZoneOwner.get(), std::memory_order_release);
  }
  return *easternZoneOwner;
}

}  // namespace k5_mkview
