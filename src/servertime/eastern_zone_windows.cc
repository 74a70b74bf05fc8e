// US Eastern time from the zone data Windows keeps, with the rules Windows gives for each year.

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <utility>

#include "common/failure.h"
#include "common/mutex.h"
#include "common/utf.h"
#include "common/windows_error.h"
#include "servertime/eastern_zone.h"

namespace k5_mkview {
namespace {

using std::chrono::days;
using std::chrono::seconds;
using std::chrono::sys_days;
using std::chrono::sys_seconds;

// A UTF-16 text of the system as UTF-8: the first `capacity` units at most, up to the first NUL.
std::string SystemText(const WCHAR* text, std::size_t capacity) {
  std::size_t length = 0;
  while (length < capacity && text[length] != L'\0') ++length;
  return Utf16ToUtf8(std::u16string(text, text + length), "system text");
}

// "error <code>: <the system's description>".
std::string ErrorText(DWORD code) {
  std::string description = WindowsErrorDescription(code);
  std::string text = "error " + std::to_string(code);
  if (!description.empty()) text += ": " + description;
  return text;
}

using EnumZonesFunction = DWORD(WINAPI*)(DWORD, PDYNAMIC_TIME_ZONE_INFORMATION);

// Owns one reference to a system DLL for as long as its functions are used.
class SystemModule {
 public:
  explicit SystemModule(const wchar_t* name) : name_(name), module_(LoadLibraryW(name)) {
    if (module_ == nullptr) {
      throw Failure("LoadLibraryW(" + SystemText(name, 64) +
                    ") failed: " + ErrorText(GetLastError()));
    }
  }
  ~SystemModule() { FreeLibrary(module_); }
  SystemModule(const SystemModule&) = delete;
  SystemModule& operator=(const SystemModule&) = delete;

  // The export `function` as a pointer of type Fn. Throws Failure when the DLL lacks it.
  template <typename Fn>
  Fn Function(const char* function) const {
    const FARPROC address = GetProcAddress(module_, function);
    if (address == nullptr) {
      throw Failure(std::string(function) + " is not available in " + SystemText(name_, 64) +
                    " on this system: " + ErrorText(GetLastError()));
    }
    // Through void(*)(), which converts to any function pointer type without a warning.
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(address));
  }

 private:
  const wchar_t* name_;
  HMODULE module_;
};

// One year's daylight-saving period in wall-clock seconds from 1970.
struct YearRules {
  bool has_daylight = false;
  std::int64_t daylight_from = 0;   // the end of the skipped hour
  std::int64_t daylight_until = 0;  // the start of the repeated hour
};

// The wall-clock time at which `rule` changes the clock in `year`, read on the clock that runs
// before the change. Windows gives the changeover as "the wDay-th wDayOfWeek of wMonth" (wDay 5:
// the last) when wYear is 0, and as a fixed date otherwise.
std::int64_t ChangeoverWallTime(const SYSTEMTIME& rule, int year, const std::string& zone_id) {
  if (rule.wMonth < 1 || rule.wMonth > 12 || rule.wDayOfWeek > 6 || rule.wDay < 1 ||
      rule.wDay > 31 || (rule.wYear == 0 && rule.wDay > 5)) {
    throw Failure("time zone \"" + zone_id + "\" has a changeover rule for " +
                  std::to_string(year) + " that is not a date (month " +
                  std::to_string(rule.wMonth) + ", day " + std::to_string(rule.wDay) +
                  ", weekday " + std::to_string(rule.wDayOfWeek) + ")");
  }
  const std::chrono::year y{year};
  const std::chrono::month m{rule.wMonth};
  const std::chrono::weekday weekday{rule.wDayOfWeek};
  sys_days day;
  if (rule.wYear != 0) {
    day = sys_days{y / m / std::chrono::day{rule.wDay}};
  } else if (rule.wDay == 5) {
    day = sys_days{y / m / weekday[std::chrono::last]};
  } else {
    day = sys_days{y / m / weekday[rule.wDay]};
  }
  return (sys_seconds{day} + std::chrono::hours{rule.wHour} + std::chrono::minutes{rule.wMinute} +
          seconds{rule.wSecond})
      .time_since_epoch()
      .count();
}

class WindowsEasternZone final : public EasternZone {
 public:
  WindowsEasternZone(std::string zone_id, const DYNAMIC_TIME_ZONE_INFORMATION& zone)
      : zone_id_(std::move(zone_id)), zone_(zone) {}

  bool IsDaylightSavingWallTime(std::int64_t local_seconds) const override {
    const sys_days day = std::chrono::floor<days>(sys_seconds{seconds{local_seconds}});
    const YearRules rules = RulesFor(static_cast<int>(std::chrono::year_month_day{day}.year()));
    if (!rules.has_daylight) return false;
    if (rules.daylight_from <= rules.daylight_until) {
      return local_seconds >= rules.daylight_from && local_seconds < rules.daylight_until;
    }
    // Southern rules: daylight saving spans the turn of the year.
    return local_seconds >= rules.daylight_from || local_seconds < rules.daylight_until;
  }

 private:
  YearRules RulesFor(int year) const {
    MutexLock guard(lock_);
    if (auto it = years_.find(year); it != years_.end()) return it->second;
    if (year < 1601 || year > 30827) {  // the years a SYSTEMTIME can hold
      throw Failure("time zone \"" + zone_id_ + "\" has no rules for the year " +
                    std::to_string(year));
    }
    TIME_ZONE_INFORMATION info;
    if (!GetTimeZoneInformationForYear(static_cast<USHORT>(year), &zone_, &info)) {
      throw Failure("GetTimeZoneInformationForYear(" + std::to_string(year) + ", \"" + zone_id_ +
                    "\") failed: " + ErrorText(GetLastError()));
    }
    YearRules rules;
    // The clock moves by the difference of the two biases; the spring changeover is given on the
    // standard clock, the autumn one on the daylight clock, so the skipped hour follows the first
    // and the repeated hour precedes the second.
    const std::int64_t shift = (std::int64_t{info.StandardBias} - info.DaylightBias) * 60;
    if (info.DaylightDate.wMonth != 0 && info.StandardDate.wMonth != 0 && shift > 0) {
      rules.has_daylight = true;
      rules.daylight_from = ChangeoverWallTime(info.DaylightDate, year, zone_id_) + shift;
      rules.daylight_until = ChangeoverWallTime(info.StandardDate, year, zone_id_) - shift;
    }
    years_.emplace(year, rules);
    return rules;
  }

  const std::string zone_id_;
  mutable Mutex lock_;
  // The system's call takes a non-const pointer, so the record shares lock_ with the cache.
  mutable DYNAMIC_TIME_ZONE_INFORMATION zone_;  // GUARDED_BY(lock_)
  mutable std::map<int, YearRules> years_;      // GUARDED_BY(lock_); asked once per year
};

}  // namespace

std::unique_ptr<const EasternZone> LoadEasternZone(std::string_view zone_id) {
  const std::string id(zone_id);
  // Resolved at run time: the 32-bit import library lacks the function, and a system without it
  // (before Windows 8) then fails here instead of refusing to load the whole library.
  const SystemModule advapi32(L"advapi32.dll");
  const auto enumerate = advapi32.Function<EnumZonesFunction>("EnumDynamicTimeZoneInformation");
  DYNAMIC_TIME_ZONE_INFORMATION zone;
  // The enumeration ends with ERROR_NO_MORE_ITEMS after the last of the system's zones.
  for (DWORD index = 0;; ++index) {
    const DWORD status = enumerate(index, &zone);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) {
      throw Failure("EnumDynamicTimeZoneInformation(" + std::to_string(index) +
                    ") failed while looking for time zone \"" + id + "\": " + ErrorText(status));
    }
    if (SystemText(zone.TimeZoneKeyName, std::size(zone.TimeZoneKeyName)) == id) {
      return std::make_unique<WindowsEasternZone>(id, zone);
    }
  }
  throw Failure("time zone \"" + id + "\" is not available in the system's time-zone data");
}

std::string_view DefaultEasternZoneId() { return "Eastern Standard Time"; }

}  // namespace k5_mkview
