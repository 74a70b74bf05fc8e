#ifndef K5_MKVIEW_EXPORTS_BOOK_QUERIES_H_
#define K5_MKVIEW_EXPORTS_BOOK_QUERIES_H_

#include <cstdint>

#include "exports/string_util.h"
#include "store/book.h"

namespace k5_mkview {

// The reading side of a stored book, shared by the order-book and position-book exports. `book` is
// what the store returned for `refnum` (null when the handle is unknown or its book absent). An
// unknown handle or a wrong array size is written into err and is not a failure; a bucket list,
// time or instrument that is absent, or a text that is not a decimal number, throws Failure.
class BookQueries {
 public:
  // The number of buckets, or -1 with "Invalid refnum passed in <refnum>" in err.
  static int BookSz(std::int32_t refnum, const BookPtr& book, ErrText& err);

  // Fills element i of the three arrays from bucket i, for i below both arrSz and the bucket count.
  static void BookData(std::int32_t refnum, const BookPtr& book, double* shortCounts,
                       double* longCounts, double* prices, int arrSz, ErrText& err);

  // With arrSz exactly 1: bucketWidth[0], price[0], then the time and instrument texts.
  static void MetaData(std::int32_t refnum, const BookPtr& book, double* bucketWidth, double* price,
                       int arrSz, char16_t* time, char16_t* instrument, ErrText& err);
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_EXPORTS_BOOK_QUERIES_H_
