#include "books/book_reply.h"

#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"
#include "net/json_reader.h"

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
  EXPECT_EQ(book.Text(book.instrument), "EUR_USD");
  EXPECT_EQ(book.Text(book.time), "2019-12-23T15:00:00Z");
  EXPECT_EQ(book.Text(book.price), "1.10250");
  EXPECT_EQ(book.Text(book.bucketWidth), "0.00050");
  ASSERT_TRUE(book.buckets);
  ASSERT_EQ(book.buckets->size(), 2u);
  const Bucket& second = (*book.buckets)[1];
  EXPECT_EQ(book.Text(second.price), "1.09050");
  EXPECT_EQ(book.Text(second.longCountPercent), "0.5");
  EXPECT_EQ(book.Text(second.shortCountPercent), "0.25");
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
  const Book& book = *envelope->book;
  EXPECT_EQ(book.Text(book.price), "1.10250");
  EXPECT_EQ(book.Text(book.bucketWidth), "5e-4");
  EXPECT_EQ(book.Text((*book.buckets)[0].price), "-0.0");
}

TEST(BookReplyTest, EscapesAreResolved) {
  auto envelope = ReadBookEnvelope(R"({"orderBook":{"instrument":"EUR\/USD \"x\" \u0041"}})",
                                   "orderBook");
  EXPECT_EQ(envelope->book->Text(envelope->book->instrument), "EUR/USD \"x\" A");
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
  EXPECT_FALSE(envelope->book->price.present());
  EXPECT_FALSE(envelope->book->buckets);
  EXPECT_FALSE(envelope->book->time.present());
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

TEST(BookReplyTest, NestingUpToTheLimitReadsOneLevelMoreFails) {
  // The reading is recursive: the mapper must stop it at its depth limit, not one level late.
  auto nested = [](int levels) {
    // Envelope and book are two levels; the skipped member nests the rest.
    return R"({"orderBook":{"skipped":)" + std::string(levels - 2, '[') +
           std::string(levels - 2, ']') + "}}";
  };
  EXPECT_NO_THROW(ReadBookEnvelope(nested(kMaxJsonDepth), "orderBook"));
  EXPECT_THROW(ReadBookEnvelope(nested(kMaxJsonDepth + 1), "orderBook"), Failure);
}

TEST(BookReplyTest, ManyShortBucketsBeyondTheSizeHintKeepTheirTexts) {
  // Far more buckets than the body's size suggests: the list grows while buckets are filled.
  std::string body = R"({"orderBook":{"buckets":[)";
  for (int i = 0; i < 3000; ++i) {
    body += std::string(i > 0 ? "," : "") + R"({"price":)" + std::to_string(i) + "}";
  }
  body += "]}}";
  auto envelope = ReadBookEnvelope(body, "orderBook");
  ASSERT_TRUE(envelope && envelope->book && envelope->book->buckets);
  const Book& book = *envelope->book;
  ASSERT_EQ(book.buckets->size(), 3000u);
  for (int i = 0; i < 3000; ++i) {
    ASSERT_EQ(book.Text((*book.buckets)[i].price), std::to_string(i)) << i;
    ASSERT_FALSE((*book.buckets)[i].longCountPercent.present()) << i;
  }
}

// The buckets of a book as "price,long,short" each ("-" for absent), separated by spaces.
std::string BucketTexts(const Book& book) {
  std::string out;
  for (const Bucket& b : *book.buckets) {
    if (!out.empty()) out += ' ';
    std::string_view separator;
    for (TextRef ref : {b.price, b.longCountPercent, b.shortCountPercent}) {
      std::optional<std::string_view> text = book.Text(ref);
      out.append(separator).append(text ? *text : "-");
      separator = ",";
    }
  }
  return out;
}

struct ListCase {
  const char* list;      // the value of "buckets"
  const char* expected;  // BucketTexts of the result, or nullptr: the reply fails
};

class BucketListTest : public ::testing::TestWithParam<ListCase> {};

// Buckets written the service's way are read by a shortcut; every other form, and every fault,
// must come out as if the shortcut were not there, wherever in the list it appears.
TEST_P(BucketListTest, MapsEveryFormAlike) {
  std::string body = std::string(R"({"orderBook":{"buckets":)") + GetParam().list + "}}";
  if (GetParam().expected == nullptr) {
    EXPECT_THROW(ReadBookEnvelope(body, "orderBook"), Failure) << body;
    return;
  }
  auto envelope = ReadBookEnvelope(body, "orderBook");
  ASSERT_TRUE(envelope && envelope->book && envelope->book->buckets) << body;
  EXPECT_EQ(BucketTexts(*envelope->book), GetParam().expected) << body;
}

#define K5_PLAIN(p, l, s) \
  R"({"price":")" p R"(","longCountPercent":")" l R"(","shortCountPercent":")" s R"("})"

INSTANTIATE_TEST_SUITE_P(
    Lists, BucketListTest,
    ::testing::Values(
        ListCase{"[" K5_PLAIN("1", "2", "3") "," K5_PLAIN("4", "5", "6") "]", "1,2,3 4,5,6"},
        ListCase{"[" K5_PLAIN("1", "2", "3") "]", "1,2,3"},
        ListCase{"[]", ""},
        // Another form between plain buckets: spacing, case, order, numbers, escapes, others.
        ListCase{"[" K5_PLAIN("1", "2", "3") R"(,{ "price":"4"},)" K5_PLAIN("7", "8", "9") "]",
                 "1,2,3 4,-,- 7,8,9"},
        ListCase{"[" K5_PLAIN("1", "2", "3") R"(,{"PRICE":"4"},)" K5_PLAIN("7", "8", "9") "]",
                 "1,2,3 4,-,- 7,8,9"},
        ListCase{R"([{"shortCountPercent":"3","price":"1"},)" K5_PLAIN("7", "8", "9") "]",
                 "1,-,3 7,8,9"},
        ListCase{R"([{"price":1.5,"longCountPercent":"2"},)" K5_PLAIN("7", "8", "9") "]",
                 "1.5,2,- 7,8,9"},
        ListCase{R"([{"price":"1\u0030"},)" K5_PLAIN("7", "8", "9") "]", "10,-,- 7,8,9"},
        ListCase{R"([{"price":"1","price":"2"},)" K5_PLAIN("7", "8", "9") "]", "2,-,- 7,8,9"},
        ListCase{R"([{"price":"1","extra":"x"},{},null,)" K5_PLAIN("7", "8", "9") "]",
                 "1,-,- -,-,- -,-,- 7,8,9"},
        ListCase{R"([{"price":"1","prices":"x"},)" K5_PLAIN("7", "8", "9") "]", "1,-,- 7,8,9"},
        // Faults right after plain buckets stay faults.
        ListCase{"[" K5_PLAIN("1", "2", "3") ",]", nullptr},
        ListCase{"[" K5_PLAIN("1", "2", "3") "," K5_PLAIN("4", "5", "6") ",]", nullptr},
        ListCase{"[" K5_PLAIN("1", "2", "3") "," K5_PLAIN("4", "5", "6"), nullptr},
        ListCase{"[" K5_PLAIN("1", "2", "3") R"(,{"price":"4)", nullptr},
        ListCase{"[" K5_PLAIN("1", "2", "3") R"(,{"price":")", nullptr},
        ListCase{"[" K5_PLAIN("1", "2", "3") R"(,{"price":"4"})", nullptr},
        ListCase{"[" K5_PLAIN("1", R"(2\x)", "3") "," K5_PLAIN("4", "5", "6") "]", nullptr},
        ListCase{"[" K5_PLAIN("1", "2\x01", "3") "," K5_PLAIN("4", "5", "6") "]", nullptr}));

#undef K5_PLAIN

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
