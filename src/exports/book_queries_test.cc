#include "exports/book_queries.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/failure.h"

namespace k5_mkview {
namespace {

constexpr double kUntouched = -777.0;

// A book with `n` buckets: bucket i has short i/10, long i/100, price 1.1 + i/10000.
std::shared_ptr<Book> MakeBook(int n) {
  auto book = std::make_shared<Book>();
  book->buckets.emplace();
  for (int i = 0; i < n; ++i) {
    book->buckets->push_back(Bucket{book->AddText(std::to_string(i / 10.0)),
                                    book->AddText(std::to_string(i / 100.0)),
                                    book->AddText(std::to_string(1.1 + i / 10000.0))});
  }
  book->bucketWidth = book->AddText("0.0005");
  book->price = book->AddText("1.10250");
  book->time = book->AddText("2019-12-23T15:00:00Z");
  book->instrument = book->AddText("EUR_USD");
  return book;
}

struct Arrays {
  explicit Arrays(int n) : shorts(n, kUntouched), longs(n, kUntouched), prices(n, kUntouched) {}
  std::vector<double> shorts, longs, prices;
};

std::u16string Err(std::size_t capacity = 100) { return std::u16string(capacity, u' '); }

TEST(BookSzTest, CountsBucketsOrReportsUnknownHandle) {
  std::u16string err = Err();
  ErrText text(err.data());
  EXPECT_EQ(BookQueries::BookSz(4, MakeBook(40), text), 40);
  EXPECT_EQ(BookQueries::BookSz(4, MakeBook(0), text), 0);
  EXPECT_EQ(BookQueries::BookSz(4, nullptr, text), -1);
  EXPECT_EQ(std::u16string(err.c_str()), u"Invalid refnum passed in 4");
}

TEST(BookSzTest, AbsentBucketListFails) {
  auto book = MakeBook(1);
  book->buckets.reset();
  std::u16string err = Err();
  ErrText text(err.data());
  EXPECT_THROW(BookQueries::BookSz(1, book, text), Failure);
}

struct DataCase {
  int buckets;
  int arrSz;
  int array_len;  // elements the caller owns
  int filled;     // elements expected to change
};

class BookDataTest : public ::testing::TestWithParam<DataCase> {};

TEST_P(BookDataTest, FillsTheFirstMinElementsAndLeavesTheRest) {
  const DataCase& c = GetParam();
  Arrays a(c.array_len);
  std::u16string err = Err();
  ErrText text(err.data());
  BookQueries::BookData(1, MakeBook(c.buckets), a.shorts.data(), a.longs.data(), a.prices.data(),
                        c.arrSz, text);
  for (int i = 0; i < c.array_len; ++i) {
    if (i < c.filled) {
      EXPECT_DOUBLE_EQ(a.shorts[i], i / 10.0) << i;
      EXPECT_DOUBLE_EQ(a.longs[i], i / 100.0) << i;
      EXPECT_DOUBLE_EQ(a.prices[i], 1.1 + i / 10000.0) << i;
    } else {
      EXPECT_EQ(a.shorts[i], kUntouched) << i;
      EXPECT_EQ(a.longs[i], kUntouched) << i;
      EXPECT_EQ(a.prices[i], kUntouched) << i;
    }
  }
  EXPECT_EQ(err, Err()) << "no text is written";
}

INSTANTIATE_TEST_SUITE_P(Sizes, BookDataTest,
                         ::testing::Values(DataCase{40, 25, 25, 25}, DataCase{40, 60, 60, 40},
                                           DataCase{40, 40, 40, 40}, DataCase{40, 0, 4, 0},
                                           DataCase{40, -3, 4, 0}, DataCase{0, 5, 5, 0}));

TEST(BookDataTest, UnknownHandleWritesTextAndLeavesArrays) {
  Arrays a(3);
  std::u16string err = Err();
  ErrText text(err.data());
  BookQueries::BookData(7, nullptr, a.shorts.data(), a.longs.data(), a.prices.data(), 3, text);
  EXPECT_EQ(std::u16string(err.c_str()), u"Invalid refnum passed in 7");
  EXPECT_EQ(a.shorts, std::vector<double>(3, kUntouched));
}

TEST(BookDataTest, AbsentBucketListFailsWhateverArrSz) {
  auto book = MakeBook(1);
  book->buckets.reset();
  std::u16string err = Err();
  ErrText text(err.data());
  for (int arrSz : {0, 1, 5}) {
    Arrays a(5);
    EXPECT_THROW(BookQueries::BookData(1, book, a.shorts.data(), a.longs.data(), a.prices.data(),
                                       arrSz, text),
                 Failure);
    EXPECT_EQ(a.shorts, std::vector<double>(5, kUntouched));
  }
}

TEST(BookDataTest, BadNumberFailsAtThatValueKeepingWhatWasWritten) {
  auto book = MakeBook(3);
  (*book->buckets)[1].longCountPercent = book->AddText("1.10x");
  Arrays a(3);
  std::u16string err = Err();
  ErrText text(err.data());
  EXPECT_THROW(
      BookQueries::BookData(1, book, a.shorts.data(), a.longs.data(), a.prices.data(), 3, text),
      Failure);
  EXPECT_DOUBLE_EQ(a.prices[0], 1.1);  // bucket 0 done
  EXPECT_DOUBLE_EQ(a.shorts[1], 0.1);  // bucket 1's short before the bad long
  EXPECT_EQ(a.longs[1], kUntouched);
  EXPECT_EQ(a.prices[1], kUntouched);
}

TEST(BookDataTest, AbsentBucketValuesReadAsZero) {
  auto book = MakeBook(1);
  (*book->buckets)[0] = Bucket{};
  Arrays a(1);
  std::u16string err = Err();
  ErrText text(err.data());
  BookQueries::BookData(1, book, a.shorts.data(), a.longs.data(), a.prices.data(), 1, text);
  EXPECT_EQ(a.shorts[0], 0.0);
  EXPECT_EQ(a.prices[0], 0.0);
}

TEST(BookDataTest, NullArrayWithElementsToFillFails) {
  std::u16string err = Err();
  ErrText text(err.data());
  std::vector<double> one(1);
  EXPECT_THROW(BookQueries::BookData(1, MakeBook(1), nullptr, one.data(), one.data(), 1, text),
               Failure);
  EXPECT_NO_THROW(BookQueries::BookData(1, MakeBook(1), nullptr, nullptr, nullptr, 0, text));
}

struct MetaOutputs {
  double width = kUntouched, price = kUntouched;
  std::u16string time = std::u16string(40, u' ');
  std::u16string instrument = std::u16string(40, u' ');
  std::u16string err = Err();
  void Call(std::int32_t refnum, const BookPtr& book, int arrSz) {
    ErrText text(err.data());
    BookQueries::MetaData(refnum, book, &width, &price, arrSz, time.data(), instrument.data(),
                          text);
  }
};

TEST(MetaDataTest, WritesValuesAndTexts) {
  MetaOutputs out;
  out.Call(3, MakeBook(2), 1);
  EXPECT_EQ(out.width, 0.0005);
  EXPECT_EQ(out.price, 1.1025);
  EXPECT_EQ(std::u16string(out.time.c_str()), u"2019-12-23T15:00:00Z");
  EXPECT_EQ(std::u16string(out.instrument.c_str()), u"EUR_USD");
}

TEST(MetaDataTest, TextsAreCutToTheirBuffers) {
  MetaOutputs out;
  out.time = u"12345";
  out.instrument = u"ab";
  out.Call(3, MakeBook(2), 1);
  EXPECT_EQ(std::u16string(out.time.c_str()), u"2019-");
  EXPECT_EQ(std::u16string(out.instrument.c_str()), u"EU");
}

struct InvalidCase {
  bool known;
  int arrSz;
  const char16_t* text;
};

class MetaDataInvalidTest : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(MetaDataInvalidTest, WritesTheTextAndChangesNoOutput) {
  MetaOutputs out;
  out.Call(3, GetParam().known ? MakeBook(2) : nullptr, GetParam().arrSz);
  EXPECT_EQ(std::u16string(out.err.c_str()), GetParam().text);
  EXPECT_EQ(out.width, kUntouched);
  EXPECT_EQ(out.price, kUntouched);
  EXPECT_EQ(out.time, std::u16string(40, u' '));
  EXPECT_EQ(out.instrument, std::u16string(40, u' '));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MetaDataInvalidTest,
    ::testing::Values(InvalidCase{true, 2, u"Invalid refnum or arrSz passed in: 3, 2"},
                      InvalidCase{true, 0, u"Invalid refnum or arrSz passed in: 3, 0"},
                      InvalidCase{true, -1, u"Invalid refnum or arrSz passed in: 3, -1"},
                      InvalidCase{false, 1, u"Invalid refnum or arrSz passed in: 3, 1"}));

TEST(MetaDataTest, AbsentTimeFailsAfterTheNumbers) {
  auto book = MakeBook(2);
  book->time = TextRef{};
  MetaOutputs out;
  EXPECT_THROW(out.Call(3, book, 1), Failure);
  EXPECT_EQ(out.width, 0.0005);
  EXPECT_EQ(out.price, 1.1025);
  EXPECT_EQ(out.time, std::u16string(40, u' '));
  EXPECT_EQ(out.instrument, std::u16string(40, u' '));
}

TEST(MetaDataTest, AbsentInstrumentFailsAfterTheTime) {
  auto book = MakeBook(2);
  book->instrument = TextRef{};
  MetaOutputs out;
  EXPECT_THROW(out.Call(3, book, 1), Failure);
  EXPECT_EQ(std::u16string(out.time.c_str()), u"2019-12-23T15:00:00Z");
  EXPECT_EQ(out.instrument, std::u16string(40, u' '));
}

TEST(MetaDataTest, MetaDataDoesNotNeedTheBuckets) {
  auto book = MakeBook(0);
  book->buckets.reset();
  MetaOutputs out;
  out.Call(3, book, 1);
  EXPECT_EQ(out.price, 1.1025);
}

}  // namespace
}  // namespace k5_mkview
