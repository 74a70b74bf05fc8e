// Book requests up to the point where they would go out: the bar time's text, instrument
// normalisation, the path check and the built request. No environment is active, so every
// request stops with a Failure before anything is sent.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "books/book_request.h"
#include "common/failure.h"
#include "fuzz_check.h"
#include "servertime/time_util.h"

namespace k5_mkview {
namespace {

bool FitsRequestLine(unsigned char c) { return c > 0x20 && c < 0x7F && c != '#' && c != '?'; }

bool Contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// Days since 1970-01-01 of a Gregorian date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  long long era = (y >= 0 ? y : y - 399) / 400;
  unsigned yoe = static_cast<unsigned>(y - era * 400);
  unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The text is "yyyy-MM-ddTHH:mm:ssZ" and lies the summer or the winter offset before the bar time.
void CheckTime(std::int32_t bar_time, int server_offset) {
  std::string text = TimeUtil::ToServerDateString(bar_time);
  K5_FUZZ_CHECK(text.size() == 20);
  for (std::size_t i = 0; i < text.size(); ++i) {
    char want = "0000-00-00T00:00:00Z"[i];
    K5_FUZZ_CHECK(want == '0' ? text[i] >= '0' && text[i] <= '9' : text[i] == want);
  }
  ServerDateTime t = TimeUtil::ToServerDateTime(bar_time);
  K5_FUZZ_CHECK(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour <= 23 &&
                t.minute <= 59 && t.second <= 59);
  long long utc =
      DaysFromCivil(t.year, t.month, t.day) * 86400 + t.hour * 3600 + t.minute * 60 + t.second;
  long long ahead = static_cast<long long>(bar_time) - utc;
  if (server_offset == 2 || server_offset == 3) {
    K5_FUZZ_CHECK(ahead == 2 * 3600 || ahead == 3 * 3600);
  } else {
    K5_FUZZ_CHECK(ahead == -4 * 3600 || ahead == -5 * 3600);
  }
}

}  // namespace
}  // namespace k5_mkview

// Input: one byte of server offset, four bytes of bar time (little-endian), one byte choosing the
// book kind, then the instrument name.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k5_mkview;
  if (size < 6) return 0;
  int server_offset = static_cast<std::int8_t>(data[0]);
  std::uint32_t bits =
      data[1] | data[2] << 8 | data[3] << 16 | static_cast<std::uint32_t>(data[4]) << 24;
  auto bar_time = static_cast<std::int32_t>(bits);
  bool order = (data[5] & 1) == 0;
  std::string instrument(reinterpret_cast<const char*>(data + 6), size - 6);

  TimeUtil::InitTimeZoneInfo(server_offset);
  std::optional<std::string> time;
  if (bar_time != 0) {
    CheckTime(bar_time, server_offset);
    time = TimeUtil::ToServerDateString(bar_time);
  }

  std::optional<std::string> normalized;
  try {
    normalized = BookRequests::NormalizeInstrument(instrument);
  } catch (const Failure&) {
  }
  bool has_underscore = instrument.find('_') != std::string::npos;
  K5_FUZZ_CHECK(normalized.has_value() == (has_underscore || instrument.size() >= 3));
  if (!normalized) return 0;
  if (has_underscore) {
    K5_FUZZ_CHECK(*normalized == instrument);
  } else {
    std::size_t cut = instrument.size() - 3;
    K5_FUZZ_CHECK(*normalized == instrument.substr(0, cut) + "_" + instrument.substr(cut));
  }
  bool safe = true;
  for (unsigned char c : *normalized) safe = safe && FitsRequestLine(c);

  std::string_view suffix =
      order ? BookRequests::orderBookSuffix : BookRequests::positionBookSuffix;
  char16_t err[8] = u"abcdefg";
  ErrText err_text(err);
  std::string message;
  try {
    BookRequests::BookRequest(instrument, suffix, order ? "orderBook" : "positionBook", bar_time,
                              err_text);
  } catch (const Failure& e) {
    message = e.message();
  }
  // Nothing unsafe reaches the request; everything safe gets as far as the missing access.
  K5_FUZZ_CHECK(Contains(message, "cannot be sent in a request path") == !safe);
  K5_FUZZ_CHECK(Contains(message, "has not been successfully initialized") == safe);
  K5_FUZZ_CHECK(std::u16string_view(err) == u"abcdefg");
  if (!safe) return 0;

  std::string request =
      BookRequests::buildRequest(BookRequests::resourcePrefix, *normalized, suffix, time);
  std::string path =
      std::string(BookRequests::resourcePrefix) + "/" + *normalized + std::string(suffix);
  K5_FUZZ_CHECK(request == (time ? path + "?time=" + *time : path));
  std::size_t queries = 0;
  for (unsigned char c : request) {
    if (c == '?') {
      ++queries;
      continue;
    }
    K5_FUZZ_CHECK(FitsRequestLine(c));
  }
  K5_FUZZ_CHECK(queries == (time ? 1u : 0u));
  return 0;
}
