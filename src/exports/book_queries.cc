#include "exports/book_queries.h"

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

int BookQueries::BookSz(std::int32_t refnum, const BookPtr& book, char16_t* err) {
  if (!book) {
    StringUtil::writeString("Invalid refnum passed in " + std::to_string(refnum), err);
    return -1;
  }
  return static_cast<int>(BucketsOf(*book).size());
}

void BookQueries::BookData(std::int32_t refnum, const BookPtr& book, double* shortCounts,
                           double* longCounts, double* prices, int arrSz, char16_t* err) {
  RequireArray(shortCounts, arrSz, "shortCounts");
  RequireArray(longCounts, arrSz, "longCounts");
  RequireArray(prices, arrSz, "prices");
  if (!book) {
    StringUtil::writeString("Invalid refnum passed in " + std::to_string(refnum), err);
    return;
  }
  const std::vector<Bucket>& buckets = BucketsOf(*book);
  for (std::size_t i = 0; i < buckets.size() && static_cast<long long>(i) < arrSz; ++i) {
    shortCounts[i] = DecimalToDouble(buckets[i].shortCountPercent, "bucket shortCountPercent");
    longCounts[i] = DecimalToDouble(buckets[i].longCountPercent, "bucket longCountPercent");
    prices[i] = DecimalToDouble(buckets[i].price, "bucket price");
  }
}

void BookQueries::MetaData(std::int32_t refnum, const BookPtr& book, double* bucketWidth,
                           double* price, int arrSz, char16_t* time, char16_t* instrument,
                           char16_t* err) {
  RequireArray(bucketWidth, arrSz, "bucketWidth");
  RequireArray(price, arrSz, "price");
  if (!book || arrSz != 1) {
    StringUtil::writeString("Invalid refnum or arrSz passed in: " + std::to_string(refnum) + ", " +
                                std::to_string(arrSz),
                            err);
    return;
  }
  bucketWidth[0] = DecimalToDouble(book->bucketWidth, "book bucketWidth");
  price[0] = DecimalToDouble(book->price, "book price");
  if (!book->time) throw Failure("the book has no time");
  StringUtil::writeString(*book->time, time);
  if (!book->instrument) throw Failure("the book has no instrument");
  StringUtil::writeString(*book->instrument, instrument);
}

}  // namespace k5_mkview
