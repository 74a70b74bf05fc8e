#include "exports/book_queries.h"

#include <algorithm>
#include <string>

#include "common/failure.h"
#include "exports/decimal.h"
#include "exports/string_util.h"

namespace k5_mkview {

namespace {

const std::vector<Bucket>& BucketsOf(const Book& book) {
  if (!book.buckets) throw Failure("the book has no bucket list");
  return *book.buckets;
}

void RequireArray(const double* array, int arrSz, const char* name) {
  if (array == nullptr && arrSz > 0) {
    throw Failure(std::string(name) + " is a null pointer but arrSz is " + std::to_string(arrSz));
  }
}

}  // namespace

int BookQueries::BookSz(std::int32_t refnum, const BookPtr& book, ErrText& err) {
  if (!book) {
    StringUtil::writeString("Invalid refnum passed in " + std::to_string(refnum), err.ForWriting());
    return -1;
  }
  return static_cast<int>(BucketsOf(*book).size());
}

void BookQueries::BookData(std::int32_t refnum, const BookPtr& book, double* shortCounts,
                           double* longCounts, double* prices, int arrSz, ErrText& err) {
  RequireArray(shortCounts, arrSz, "shortCounts");
  RequireArray(longCounts, arrSz, "longCounts");
  RequireArray(prices, arrSz, "prices");
  if (!book) {
    StringUtil::writeString("Invalid refnum passed in " + std::to_string(refnum), err.ForWriting());
    return;
  }
  const std::vector<Bucket>& buckets = BucketsOf(*book);
  std::size_t n = arrSz > 0 ? std::min(buckets.size(), static_cast<std::size_t>(arrSz)) : 0;
  for (std::size_t i = 0; i < n; ++i) {
    const Bucket& b = buckets[i];
    shortCounts[i] = DecimalToDouble(book->Text(b.shortCountPercent), "bucket shortCountPercent");
    longCounts[i] = DecimalToDouble(book->Text(b.longCountPercent), "bucket longCountPercent");
    prices[i] = DecimalToDouble(book->Text(b.price), "bucket price");
  }
}

void BookQueries::MetaData(std::int32_t refnum, const BookPtr& book, double* bucketWidth,
                           double* price, int arrSz, char16_t* time, char16_t* instrument,
                           ErrText& err) {
  RequireArray(bucketWidth, arrSz, "bucketWidth");
  RequireArray(price, arrSz, "price");
  if (!book || arrSz != 1) {
    StringUtil::writeString("Invalid refnum or arrSz passed in: " + std::to_string(refnum) + ", " +
                                std::to_string(arrSz),
                            err.ForWriting());
    return;
  }
  bucketWidth[0] = DecimalToDouble(book->Text(book->bucketWidth), "book bucketWidth");
  price[0] = DecimalToDouble(book->Text(book->price), "book price");
  if (!book->time.present()) throw Failure("the book has no time");
  StringUtil::writeString(book->Text(book->time), time);
  if (!book->instrument.present()) throw Failure("the book has no instrument");
  StringUtil::writeString(book->Text(book->instrument), instrument);
}

}  // namespace k5_mkview
