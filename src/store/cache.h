#ifndef K5_MKVIEW_STORE_CACHE_H_
#define K5_MKVIEW_STORE_CACHE_H_

#include <cstdint>
#include <map>

#include "common/mutex.h"
#include "store/book.h"

namespace k5_mkview {

// One kind's table of stored books; `lock` guards `entries` and the kind's handle counter.
struct BookResults {
  const char* kind;  // "order-book" or "position-book", for messages
  Mutex lock;
  std::map<std::int32_t, BookPtr> entries;  // GUARDED_BY(lock); a null BookPtr is an absent book
};

// The process-wide store of books under handles, one table and one handle sequence per kind.
// Handles start at 1, rise by 1 and are never issued twice, also after a book is freed.
class Cache {
 public:
  // Stores `book` (which may be null) under the next handle of `refnum`, the table's counter, and
  // returns it. Throws Failure when the counter has reached 2147483647: wrapping round would hand
  // a caller a negative handle, or later someone else's book.
  static std::int32_t addBook(BookPtr book, std::int32_t& refnum, BookResults& resultsDict);
  // The book under `refnum`, or null when the handle is unknown or its book absent.
  static BookPtr getBook(std::int32_t refnum, BookResults& resultsDict);
  // Removes the entry of `refnum`; an unknown handle is not an error.
  static void freeBook(std::int32_t refnum, BookResults& resultsDict);

  static std::int32_t addOrderBook(BookPtr orderBook);
  static std::int32_t addPositionBook(BookPtr positionBook);
  static BookPtr getOrderBook(std::int32_t refId);
  static BookPtr getPositionBook(std::int32_t refId);
  static void freeOrderBook(std::int32_t refId);
  static void freePositionBook(std::int32_t refId);

 private:
  friend class CacheTestPeer;

  static BookResults _orderBookResults;
  static std::int32_t _refOrderBook;  // GUARDED_BY(_orderBookResults.lock)
  static BookResults _positionBookResults;
  static std::int32_t _refPositionBook;  // GUARDED_BY(_positionBookResults.lock)
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_STORE_CACHE_H_
