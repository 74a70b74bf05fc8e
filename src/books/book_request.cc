#include "books/book_request.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "access/environments.h"
#include "common/failure.h"
#include "exports/string_util.h"
#include "net/http_client.h"
#include "servertime/time_util.h"
#include "store/cache.h"

namespace k5_mkview {
namespace {

// Characters that would change the meaning of the request line: control characters, space,
// "#" and "?" (they would end the path), and anything outside ASCII (it would be re-encoded).
void RequirePathSafe(const std::string& instrument) {
  for (std::size_t i = 0; i < instrument.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(instrument[i]);
    if (c <= 0x20 || c >= 0x7F || c == '#' || c == '?') {
      char code[8];
      std::snprintf(code, sizeof(code), "0x%02X", c);
      throw Failure("instrument holds a character that cannot be sent in a request path (byte " +
                    std::string(code) + " at position " + std::to_string(i) + ")");
    }
  }
}

// A header value with a line break would let the token add headers of its own.
void RequireHeaderSafe(const std::optional<std::string>& token) {
  if (!token) return;
  for (unsigned char c : *token) {
    if (c < 0x20 || c == 0x7F) {
      throw Failure("the access token holds a control character; it was not sent. "
                    "Initialise the credentials again with a valid token");
    }
  }
}

// The size of the last book reply's body, the next request's hint.
std::atomic<std::size_t> last_body_size{0};

bool HasByteAbove7F(std::string_view text) {
  constexpr std::uint64_t kHighBits = 0x8080808080808080u;
  std::uint64_t any = 0;
  std::size_t i = 0;
  for (; i + 8 <= text.size(); i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    any |= word;
  }
  for (; i < text.size(); ++i) any |= static_cast<unsigned char>(text[i]);
  return (any & kHighBits) != 0;
}

}  // namespace

int BookRequests::OrderBook(const std::string& instrument, std::int32_t mt4Time, ErrText& err) {
  std::optional<BookEnvelope> envelope = orderBookRequest(instrument, mt4Time, err);
  if (!envelope) return -1;
  return Cache::addOrderBook(std::move(envelope->book));
}

int BookRequests::PositionBook(const std::string& instrument, std::int32_t mt4Time,
                               ErrText& err) {
  std::optional<BookEnvelope> envelope = positionBookRequest(instrument, mt4Time, err);
  if (!envelope) return -1;
  return Cache::addPositionBook(std::move(envelope->book));
}

std::optional<BookEnvelope> BookRequests::orderBookRequest(const std::string& instrument,
                                                           std::int32_t mt4Time, ErrText& err) {
  return BookRequest(instrument, orderBookSuffix, "orderBook", mt4Time, err);
}

std::optional<BookEnvelope> BookRequests::positionBookRequest(const std::string& instrument,
                                                              std::int32_t mt4Time,
                                                              ErrText& err) {
  return BookRequest(instrument, positionBookSuffix, "positionBook", mt4Time, err);
}

std::optional<BookEnvelope> BookRequests::BookRequest(const std::string& instrument,
                                                      std::string_view suffix,
                                                      std::string_view member,
                                                      std::int32_t mt4Time, ErrText& err) {
  std::optional<std::string> time;
  if (mt4Time != 0) time = TimeUtil::ToServerDateString(mt4Time);
  std::string normalized = NormalizeInstrument(instrument);
  RequirePathSafe(normalized);
  std::string resource = buildRequest(resourcePrefix, normalized, suffix, time);
  std::string body;
  try {
    body = MkViewRequest(resource);
  } catch (const HttpFailure& e) {
    if (!e.reply()) throw;
    StringUtil::writeWebException(e, err.ForWriting());
    return std::nullopt;
  }
  return ReadBookEnvelopeInPlace(body, member);
}

std::string BookRequests::NormalizeInstrument(const std::string& instrument) {
  if (instrument.find('_') != std::string::npos) return instrument;
  if (instrument.size() < 3) {
    throw Failure("instrument \"" + instrument +
                  "\" is too short: a name without \"_\" needs at least three characters");
  }
  std::string normalized = instrument;
  normalized.insert(normalized.size() - 3, "_");
  return normalized;
}

std::string BookRequests::buildRequest(std::string_view resource, std::string_view instrument,
                                       std::string_view suffix,
                                       const std::optional<std::string>& time) {
  std::string request;
  request.reserve(resource.size() + instrument.size() + suffix.size() + 32);
  request.append(resource).append("/").append(instrument).append(suffix);
  if (time) request.append("?time=").append(*time);
  return request;
}

std::string BookRequests::MkViewRequest(const std::string& resource) {
  // One reading of the active record: base URL and token from the same initialisation.
  std::shared_ptr<const AccessSnapshot> active = Environments::access();
  if (!active) throw Failure("mkView has not been successfully initialized");
  RequireHeaderSafe(active->AccessToken);

  HttpRequest request;
  request.url = active->Host + resource;
  request.headers = {{"Accept", "application/json"},
                     {"Authorization", "Bearer " + active->AccessToken.value_or("")}};
  request.decode_content = true;
  // Books of one terminal keep their size from one request to the next: the last body's size,
  // with room to grow, spares growing a large body by copying (and the heap's churn with it).
  request.body_size_hint = last_body_size.load(std::memory_order_relaxed);
  request.body_size_hint += request.body_size_hint / 8;
  HttpResponse response = SendHttpRequest(request);
  if (response.status >= 300) {
    std::string description = DescribeErrorReply(request, response);
    throw HttpFailure(description, std::move(response));
  }
  last_body_size.store(response.body.size(), std::memory_order_relaxed);
  // The body is read as 7-bit text: each byte above 0x7F becomes "?". In place, so a large book
  // is not held twice; and replies are nearly always ASCII already, so a quick look at whole
  // words (which the compiler vectorises) spares the byte-by-byte pass.
  std::string& body = response.body;
  if (HasByteAbove7F(body)) {
    for (char& c : body) {
      if (static_cast<unsigned char>(c) > 0x7F) c = '?';
    }
  }
  return std::move(body);
}

}  // namespace k5_mkview
