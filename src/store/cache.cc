#include "store/cache.h"

#include <limits>
#include <string>
#include <utility>

#include "common/failure.h"

namespace k5_mkview {

BookResults Cache::_orderBookResults{"order-book", {}, {}};
std::int32_t Cache::_refOrderBook = 0;
BookResults Cache::_positionBookResults{"position-book", {}, {}};
std::int32_t Cache::_refPositionBook = 0;

std::int32_t Cache::addBook(BookPtr book, std::int32_t& refnum, BookResults& resultsDict) {
  MutexLock guard(resultsDict.lock);
  if (refnum == std::numeric_limits<std::int32_t>::max()) {
    throw Failure(std::string("no more ") + resultsDict.kind +
                  " handles: all 2147483647 have been issued; reload the library");
  }
  std::int32_t handle = refnum + 1;
  resultsDict.entries.emplace(handle, std::move(book));
  refnum = handle;  // advanced only once the entry is stored, so a failed store issues nothing
  return handle;
}

BookPtr Cache::getBook(std::int32_t refnum, BookResults& resultsDict) {
  MutexLock guard(resultsDict.lock);
  auto it = resultsDict.entries.find(refnum);
  return it == resultsDict.entries.end() ? nullptr : it->second;
}

void Cache::freeBook(std::int32_t refnum, BookResults& resultsDict) {
  BookPtr released;  // the book's last owner, if any, lets go after the lock is released
  MutexLock guard(resultsDict.lock);
  auto it = resultsDict.entries.find(refnum);
  if (it == resultsDict.entries.end()) return;
  released = std::move(it->second);
  resultsDict.entries.erase(it);
}

std::int32_t Cache::addOrderBook(BookPtr orderBook) {
  return addBook(std::move(orderBook), _refOrderBook, _orderBookResults);
}
std::int32_t Cache::addPositionBook(BookPtr positionBook) {
  return addBook(std::move(positionBook), _refPositionBook, _positionBookResults);
}
BookPtr Cache::getOrderBook(std::int32_t refId) { return getBook(refId, _orderBookResults); }
BookPtr Cache::getPositionBook(std::int32_t refId) { return getBook(refId, _positionBookResults); }
void Cache::freeOrderBook(std::int32_t refId) { freeBook(refId, _orderBookResults); }
void Cache::freePositionBook(std::int32_t refId) { freeBook(refId, _positionBookResults); }

}  // namespace k5_mkview
