#ifndef K5_MKVIEW_SERVERTIME_TIME_UTIL_H_
#define K5_MKVIEW_SERVERTIME_TIME_UTIL_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/failure.h"
#include "common/mutex.h"
#include "servertime/eastern_zone.h"

namespace k5_mkview {

// A moment in UTC as the Gregorian calendar and a 24-hour clock read it.
struct ServerDateTime {
  int year;
  int month;   // 1 to 12
  int day;     // 1 to 31
  int hour;    // 0 to 23
  int minute;  // 0 to 59
  int second;  // 0 to 59

  bool operator==(const ServerDateTime&) const = default;
};

// The trading server's clock. The server runs either two hours ahead of UTC in winter and three in
// summer, or on US Eastern time (five hours behind in winter, four in summer); summer follows the
// US Eastern daylight-saving calendar for both. A bar time counts seconds since 1970-01-01 00:00:00
// on the server's clock.
//
// The US Eastern zone is looked up once, on the first InitTimeZoneInfo or conversion. If the
// platform does not know it, that first call and every later InitTimeZoneInfo and conversion throw
// the same Failure, and the offsets are never set.
class TimeUtil {
 public:
  // Init(gmtServerOffset) under lockObj, so two initialisations never interleave.
  static void InitTimeZoneInfo(int gmtServerOffset);

  // Sets the summer and winter offsets from the server's offset from UTC in whole hours: +3 and +2
  // for 2 or 3, -4 and -5 for every other value. The value itself is not kept. Callers hold
  // lockObj.
  static void Init(int offset);

  // The UTC moment of the bar time `mt4Timestamp`. Two candidates are the bar time less the summer
  // offset and less the winter offset; if both, read as US Eastern wall-clock times, fall in
  // daylight saving time the summer candidate is the result, otherwise the winter one. Before any
  // InitTimeZoneInfo both offsets are -1. Never waits for lockObj; sees the offsets of one
  // InitTimeZoneInfo, old or new, never a mix. Correct for every 32-bit input.
  static ServerDateTime ToServerDateTime(std::int32_t mt4Timestamp);

  // ToServerDateTime as "yyyy-MM-ddTHH:mm:ssZ", e.g. "2019-12-23T15:00:00Z", with the digits 0-9
  // whatever the machine's regional settings.
  static std::string ToServerDateString(std::int32_t mt4Timestamp);

  // For tests only, while no other thread uses this class: back to the state at load (offsets -1
  // and -1, zone not yet looked up, no failure remembered), with `zone_id` as the zone to look up
  // instead of the platform's US Eastern id when given.
  static void ResetForTesting(std::optional<std::string> zone_id = std::nullopt);

 private:
  friend class TimeUtilTestPeer;

  // The zone, looked up on the first call; throws the remembered Failure when it is missing.
  static const EasternZone& Zone();

  // The process-wide lock of InitTimeZoneInfo; it guards nothing else.
  static Mutex lockObj;
  // DSTConversionOffset (the summer offset, upper 16 bits) and nonDSTConversionOffset (the winter
  // offset, lower 16 bits) as one word, so a reader without a lock loads both of one store.
  static std::atomic<std::uint32_t> conversionOffsets;

  // Guards the lookup of the zone and its outcome. A lock of its own rather than lockObj: a first
  // conversion looks the zone up too and must not wait for InitTimeZoneInfo.
  static Mutex zoneLock;
  static std::optional<std::string> zoneIdForTesting;          // GUARDED_BY(zoneLock)
  static std::unique_ptr<const EasternZone> easternZoneOwner;  // GUARDED_BY(zoneLock)
  static std::optional<Failure> zoneFailure;                   // GUARDED_BY(zoneLock)
  // easternZoneOwner's zone once the lookup succeeded, read without zoneLock; null before.
  static std::atomic<const EasternZone*> easternZone;
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_SERVERTIME_TIME_UTIL_H_
