#ifndef K5_MKVIEW_BOOKS_BOOK_REPLY_H_
#define K5_MKVIEW_BOOKS_BOOK_REPLY_H_

#include <optional>
#include <string>
#include <string_view>

#include "store/book.h"

namespace k5_mkview {

// The reply document of a book request: an object whose member `orderBook` (or `positionBook`)
// holds the book. `book` is null when that member is missing or null.
struct BookEnvelope {
  BookPtr book;
};

// Maps a reply body onto the envelope whose book member is `member` ("orderBook" or
// "positionBook"). Member names match without regard to case; unknown members are skipped; a
// number where a text is expected keeps its literal text. Returns nothing, without a failure, for
// a body that holds no value or the value null. Throws Failure for malformed JSON and for a value
// of the wrong kind (an object or array where a text is expected, anything but an object where a
// record is expected, anything but an array where the bucket list is expected).
// Nesting deeper than kMaxJsonDepth levels fails too.
std::optional<BookEnvelope> ReadBookEnvelope(std::string_view body, std::string_view member);

// The same for a body the caller hands over: it is read in place, so its bytes are overwritten.
// Spares a copy of each text; the way a fetched reply is read.
std::optional<BookEnvelope> ReadBookEnvelopeInPlace(std::string& body, std::string_view member);

}  // namespace k5_mkview

#endif  // K5_MKVIEW_BOOKS_BOOK_REPLY_H_
