#include "books/book_reply.h"

#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"

namespace k5_mkview {
namespace {

const char* kFull = R"({"orderBook":{"instrument":"EUR_USD","time":"2019-12-23T15:00:00Z",
  "price":"1.10250","bucketWidth":"0.00050","extra":{"deep":[1,2,{"x":null}]},
  "buckets":[{"price":"1.09000","longCountPercent":"0.0123","shortCountPercent":"0.0456"},
             {"price":"1.09050","longCountPercent":"0.5","shortCountPercent":"0.25","more":true}]}})";

TEST(BookReplyTest, MapsTheWholeBook) {
  std::optional<BookEnvelope> envelope = ReadBookEnvelope(kFull, "orderBook");
  ASSERT_TRUE(envelope && envelope->book);
  const Book& book = *envelope->book;
  EXPECT_EQ(book.instrument, "EUR_USD");
  EXPECT_EQ(book.time, "2019-12-23T15:00:00Z");
  EXPECT_EQ(book.price, "1.10250");
  EXPECT_EQ(book.bucketWidth, "0.00050");
  ASSERT_TRUE(book.buckets);
  ASSERT_EQ(book.buckets->size(), 2u);
  EXPECT_EQ((*book.buckets)[1].price, "1.09050");
  EXPECT_EQ((*book.buckets)[1].longCountPercent, "0.5");
  EXPECT_EQ((*book.buckets)[1].shortCountPercent, "0.25");
}

TEST(BookReplyTest, TheOtherKindsMemberIsNotTheBook) {
  std::optional<BookEnvelope> envelope = ReadBookEnvelope(kFull, "positionBook");
  ASSERT_TRUE(envelope);
  EXPECT_EQ(envelope->book, nullptr);
}

TEST(BookReplyTest, NamesMatchWithoutCaseNumbersKeepTheirText) {
  auto envelope = ReadBookEnvelope(
      R"({"ORDERBOOK":{"Price":1.10250,"BUCKETWIDTH":5e-4,"Time":"t","buckets":[{"PRICE":-0.0}]}})",
      "orderBook");
  ASSERT_TRUE(envelope && envelope->book);
  EXPECT_EQ(envelope->book->price, "1.10250");
  EXPECT_EQ(envelope->book->bucketWidth, "5e-4");
  EXPECT_EQ((*envelope->book->buckets)[0].price, "-0.0");
}

TEST(BookReplyTest, EscapesAreResolved) {
  auto envelope = ReadBookEnvelope(R"({"orderBook":{"instrument":"EUR\/USD \"x\" \u0041"}})",
                                   "orderBook");
  EXPECT_EQ(envelope->book->instrument, "EUR/USD \"x\" A");
}

struct AbsentCase {
  const char* body;
  bool envelope;  // an envelope came back
  bool book;      // it holds a book
};

class BookReplyAbsentTest : public ::testing::TestWithParam<AbsentCase> {};

TEST_P(BookReplyAbsentTest, NoValueMeansNoRecordWithoutFailure) {
  auto envelope = ReadBookEnvelope(GetParam().body, "orderBook");
  EXPECT_EQ(envelope.has_value(), GetParam().envelope) << GetParam().body;
  if (envelope) {
    EXPECT_EQ(envelope->book != nullptr, GetParam().book) << GetParam().body;
  }
}

INSTANTIATE_TEST_SUITE_P(Bodies, BookReplyAbsentTest,
                         ::testing::Values(AbsentCase{"", false, false},
                                           AbsentCase{" \r\n\t ", false, false},
                                           AbsentCase{"null", false, false},
                                           AbsentCase{" null ", false, false},
                                           AbsentCase{"{}", true, false},
                                           AbsentCase{R"({"orderBook":null})", true, false},
                                           AbsentCase{R"({"other":{"price":"1"}})", true, false},
                                           AbsentCase{R"({"orderBook":{}})", true, true}));

TEST(BookReplyTest, NullMembersAreAbsent) {
  auto envelope = ReadBookEnvelope(
      R"({"orderBook":{"price":"1","price":null,"buckets":null,"time":null}})", "orderBook");
  ASSERT_TRUE(envelope && envelope->book);
  EXPECT_FALSE(envelope->book->price);
  EXPECT_FALSE(envelope->book->buckets);
  EXPECT_FALSE(envelope->book->time);
}

class BookReplyBadTest : public ::testing::TestWithParam<const char*> {};

TEST_P(BookReplyBadTest, Fails) {
  EXPECT_THROW(ReadBookEnvelope(GetParam(), "orderBook"), Failure) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, BookReplyBadTest,
    ::testing::Values(R"({"orderBook": {"instrument": "EUR_USD", "price": )",  // cut off
                      "{", "nul", "{} {}", "\xEF\xBB\xBF{}", "???",
                      "[]", "\"text\"", "42", "true",                      // not an object
                      R"({"orderBook":[1,2]})", R"({"orderBook":"text"})",  // book not an object
                      R"({"orderBook":{"price":{"a":1}}})",                 // object for a text
                      R"({"orderBook":{"price":[]}})",                      // array for a text
                      R"({"orderBook":{"buckets":{}}})",                    // object for a list
                      R"({"orderBook":{"buckets":"x"}})",                   // text for a list
                      R"({"orderBook":{"buckets":[1]}})",                   // text for a bucket
                      R"({"orderBook":{"buckets":[[]]}})"));                // list for a bucket

TEST(BookReplyTest, DeepNestingFailsCleanly) {
  std::string deep = R"({"orderBook":{"skipped":)" + std::string(1'000'000, '[');
  EXPECT_THROW(ReadBookEnvelope(deep, "orderBook"), Failure);
  std::string deep_book = R"({"orderBook":)" + std::string(1'000'000, '[');
  EXPECT_THROW(ReadBookEnvelope(deep_book, "orderBook"), Failure);
}

TEST(BookReplyTest, WrongKindMessageNamesTheMember) {
  try {
    ReadBookEnvelope(R"({"orderBook":{"time":{}}})", "orderBook");
    FAIL();
  } catch (const Failure& e) {
    EXPECT_NE(e.message().find("'time'"), std::string::npos) << e.message();
  }
}

}  // namespace
}  // namespace k5_mkview
