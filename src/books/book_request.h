#ifndef K5_MKVIEW_BOOKS_BOOK_REQUEST_H_
#define K5_MKVIEW_BOOKS_BOOK_REQUEST_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "books/book_reply.h"
#include "exports/string_util.h"

namespace k5_mkview {

// Fetching a book of an instrument from the service, optionally as of a bar time.
class BookRequests {
 public:
  // The work of the exports OrderBook and PositionBook: fetch, store, return the new handle; -1
  // when nothing was stored (after an error reply, whose body and description are then in err,
  // or a body that held no envelope). Other failures throw.
  static int OrderBook(const std::string& instrument, std::int32_t mt4Time, ErrText& err);
  static int PositionBook(const std::string& instrument, std::int32_t mt4Time, ErrText& err);

  static std::optional<BookEnvelope> orderBookRequest(const std::string& instrument,
                                                      std::int32_t mt4Time, ErrText& err);
  static std::optional<BookEnvelope> positionBookRequest(const std::string& instrument,
                                                         std::int32_t mt4Time, ErrText& err);

  // Shared by both kinds: `suffix` is "/orderBook" or "/positionBook", `member` the envelope's
  // book member. Writes an error reply into err and returns nothing; returns nothing for a body
  // without an envelope; throws every other failure.
  static std::optional<BookEnvelope> BookRequest(const std::string& instrument,
                                                 std::string_view suffix, std::string_view member,
                                                 std::int32_t mt4Time, ErrText& err);

  // EURUSD becomes EUR_USD: "_" before the last three characters, unless the name has one.
  // Throws Failure for a name shorter than three characters without "_".
  static std::string NormalizeInstrument(const std::string& instrument);

  // resource + "/" + instrument + suffix, and "?time=" + time when there is a time text.
  static std::string buildRequest(std::string_view resource, std::string_view instrument,
                                  std::string_view suffix, const std::optional<std::string>& time);

  // GETs `resource` from the active environment with its token; returns the body, each byte
  // above 0x7F turned into "?". Throws Failure when no environment is active, HttpFailure with
  // the reply for a final status of 300 or above, HttpFailure without one when no reply came.
  static std::string MkViewRequest(const std::string& resource);

  static constexpr std::string_view resourcePrefix = "/v3/instruments";
  static constexpr std::string_view orderBookSuffix = "/orderBook";
  static constexpr std::string_view positionBookSuffix = "/positionBook";
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_BOOKS_BOOK_REQUEST_H_
