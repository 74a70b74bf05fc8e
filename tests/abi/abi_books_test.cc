// The whole road through the loaded library against the local sandbox service: token file,
// time zone, InitCreds, a book as of a bar time, then _Sz, _BookData, _MetaData and _Free; and
// each way a book request can fail. The sandbox chooses its faults by the instrument's name.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "access/token_file.h"
#include "books/book_reply.h"
#include "exports/decimal.h"
#include "support/library_copy.h"

namespace {

using k5test::LibraryCopy;
using k5test::Err;
using k5test::Narrow;
using k5test::U16;

constexpr int kBarTime = 1577120400;  // 2019-12-23 17:00:00 on the server clock
constexpr const char16_t* kBarTimeText = u"2019-12-23T15:00:00Z";  // after InitTimeZoneInfo(2)

// The book the sandbox serves for a request, as its own `book` command printed it when the
// sandbox fixture started.
k5_mkview::BookPtr ExpectedBook(const std::string& file, const std::string& member) {
  std::ifstream in(std::filesystem::path(K5_SANDBOX_EXPECTED_DIR) / file, std::ios::binary);
  std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto envelope = k5_mkview::ReadBookEnvelope(json, member);
  return envelope ? envelope->book : nullptr;
}

double Number(std::optional<std::string_view> text) {
  return k5_mkview::DecimalToDouble(text, "expected value");
}

class AbiBooksTest : public ::testing::Test {
 protected:
  // A fresh copy of the library, initialised for `server` with `token` and the +2 server clock.
  void Init(const char16_t* server = u"TERVIK-k5 Practice-2",
            const std::string& token = "sandbox-practice-token") {
    copy_ = std::make_unique<LibraryCopy>(u8"k5-abi-books");
    ASSERT_TRUE(copy_->loaded()) << copy_->error();
    copy_->WriteTokenFile(k5_mkview::TokenFile::encrypt(token) + "\n");
    ASSERT_EQ(copy_->InitCreds(server), u"");
    Err err;
    lib().InitTimeZoneInfo(2, err.get());
    ASSERT_EQ(err.text(), u"");
  }
  void SetUp() override { Init(); }

  const k5test::K5Exports& lib() const { return copy_->exports(); }

  struct Meta {
    double width = -1, price = -1;
    std::u16string time = std::u16string(60, u' '), instrument = std::u16string(60, u' ');
    std::u16string err;
  };
  Meta OrderMeta(int handle) {
    Meta m;
    Err err;
    lib().OrderBook_MetaData(handle, &m.width, &m.price, 1, m.time.data(), m.instrument.data(),
                             err.get());
    m.time = m.time.c_str();
    m.instrument = m.instrument.c_str();
    m.err = err.text();
    return m;
  }

  std::unique_ptr<LibraryCopy> copy_;
};

TEST_F(AbiBooksTest, OrderBookRoadAsOfABarTime) {
  k5_mkview::BookPtr expected = ExpectedBook("orderBook-EUR_USD-2019-12-23T15.json", "orderBook");
  ASSERT_TRUE(expected && expected->buckets) << "the sandbox's expected book is missing";
  Err err;
  int handle = lib().OrderBook(u"EURUSD", kBarTime, err.get());
  ASSERT_GE(handle, 1) << Narrow(err.text());
  EXPECT_EQ(err.text(), u"");

  int n = lib().OrderBook_Sz(handle, err.get());
  ASSERT_EQ(n, static_cast<int>(expected->buckets->size()));
  std::vector<double> shorts(n + 2, -9), longs(n + 2, -9), prices(n + 2, -9);
  lib().OrderBook_BookData(handle, shorts.data(), longs.data(), prices.data(), n, err.get());
  EXPECT_EQ(err.text(), u"");
  for (int i = 0; i < n; ++i) {
    const k5_mkview::Bucket& b = (*expected->buckets)[i];
    EXPECT_EQ(shorts[i], Number(expected->Text(b.shortCountPercent))) << i;
    EXPECT_EQ(longs[i], Number(expected->Text(b.longCountPercent))) << i;
    EXPECT_EQ(prices[i], Number(expected->Text(b.price))) << i;
  }
  EXPECT_EQ(shorts[n], -9);  // beyond arrSz: untouched

  Meta meta = OrderMeta(handle);
  EXPECT_EQ(meta.err, u"");
  EXPECT_EQ(meta.time, kBarTimeText);  // the sandbox echoes the time text it received
  EXPECT_EQ(meta.instrument, u"EUR_USD");
  EXPECT_EQ(meta.price, Number(expected->Text(expected->price)));
  EXPECT_EQ(meta.width, Number(expected->Text(expected->bucketWidth)));

  lib().OrderBook_Free(handle, err.get());
  EXPECT_EQ(lib().OrderBook_Sz(handle, err.get()), -1);
  EXPECT_EQ(err.text(), u"Invalid refnum passed in " + U16(std::to_string(handle)));
}

TEST_F(AbiBooksTest, PositionBookRoadWithoutABarTime) {
  k5_mkview::BookPtr expected = ExpectedBook("positionBook-USD_JPY.json", "positionBook");
  ASSERT_TRUE(expected && expected->buckets);
  Err err;
  int handle = lib().PositionBook(u"USDJPY", 0, err.get());
  ASSERT_GE(handle, 1) << Narrow(err.text());
  int n = lib().PositionBook_Sz(handle, err.get());
  ASSERT_EQ(n, static_cast<int>(expected->buckets->size()));
  std::vector<double> shorts(n), longs(n), prices(n);
  lib().PositionBook_BookData(handle, shorts.data(), longs.data(), prices.data(), n, err.get());
  EXPECT_EQ(prices[n - 1], Number(expected->Text(expected->buckets->back().price)));
  double width = 0, price = 0;
  std::u16string time(40, u' '), instrument(40, u' ');
  lib().PositionBook_MetaData(handle, &width, &price, 1, time.data(), instrument.data(),
                              err.get());
  EXPECT_EQ(err.text(), u"");
  EXPECT_EQ(std::u16string(time.c_str()), U16(std::string(*expected->Text(expected->time))));  // no ?time=: the latest book
  EXPECT_EQ(price, Number(expected->Text(expected->price)));
  // The position-book handle is unknown among order books.
  EXPECT_EQ(lib().OrderBook_Sz(handle + 1000, err.get()), -1);
}

TEST_F(AbiBooksTest, TwoRequestsGiveTwoHandlesWithTheirOwnBooks) {
  Err err;
  int first = lib().OrderBook(u"EUR_USD", 0, err.get());
  int second = lib().OrderBook(u"EUR_USD", 0, err.get());
  ASSERT_GE(first, 1);
  EXPECT_EQ(second, first + 1);
  lib().OrderBook_Free(first, err.get());
  EXPECT_GT(lib().OrderBook_Sz(second, err.get()), 0);
  EXPECT_EQ(err.text(), u"");
}

struct NameCase {
  const char16_t* given;
  const char16_t* sent;
};

TEST_F(AbiBooksTest, InstrumentNamesAreNormalisedBeforeSending) {
  for (NameCase c : {NameCase{u"EUR_USD", u"EUR_USD"}, NameCase{u"EURUSD", u"EUR_USD"},
                     NameCase{u"eurusd", u"eur_usd"}, NameCase{u"EURUSDm", u"EURU_SDm"},
                     NameCase{u"US30USD", u"US30_USD"}, NameCase{u"USD", u"_USD"}}) {
    Err err;
    int handle = lib().OrderBook(c.given, 0, err.get());
    ASSERT_GE(handle, 1) << Narrow(c.given) << ": " << Narrow(err.text());
    EXPECT_EQ(OrderMeta(handle).instrument, c.sent) << Narrow(c.given);
  }
}

// What a failed or empty request leaves: the result, and how err must begin ("" for empty).
struct FaultCase {
  const char16_t* instrument;
  std::u16string err_prefix;
  bool err_empty = false;
};

class AbiBookFaultTest : public AbiBooksTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(AbiBookFaultTest, NothingIsStoredAndErrSaysWhy) {
  const FaultCase& c = GetParam();
  Err err;
  EXPECT_EQ(lib().OrderBook(c.instrument, kBarTime, err.get()), -1);
  if (c.err_empty) {
    EXPECT_EQ(err.text(), u"");
  } else {
    EXPECT_EQ(err.text().rfind(c.err_prefix, 0), 0u) << Narrow(err.text());
  }
  // Nothing was stored: the next book gets handle 1.
  EXPECT_EQ(lib().OrderBook(u"EUR_USD", 0, err.get()), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AbiBookFaultTest,
    ::testing::Values(
        // Error replies: their body, a line feed and the description.
        FaultCase{u"FAULT_404",
                  u"{\"errorMessage\":\"Invalid value specified for 'instrument'\"}\nHTTP 404"},
        FaultCase{u"FAULT_500", u"{\"errorMessage\":\"Internal server error\"}\nHTTP 500"},
        // Success without a book value: -1 and err empty.
        FaultCase{u"FAULT_204", u"", true}, FaultCase{u"FAULT_NULL", u"", true},
        FaultCase{u"FAULT_EMPTY", u"", true}, FaultCase{u"FAULT_SPACES", u"", true},
        // Bodies that are not the envelope: the JSON reader's failure.
        FaultCase{u"FAULT_MALFORMED", u"JSON reply is not valid: "},
        FaultCase{u"FAULT_WRONGKIND", u"JSON reply: an array where the book object"},
        FaultCase{u"FAULT_WRONGKIND_TEXT", u"JSON reply: an object where the text 'price'"},
        FaultCase{u"FAULT_TOPARRAY", u"JSON reply: an array where the reply object"},
        FaultCase{u"FAULT_DEEP", u"JSON reply"},
        // No complete reply (closed, cut, reset, over the size cap...): abi_faults_test.cc.
        // Names the library refuses to send.
        FaultCase{u"EU", u"instrument \"EU\" is too short"}, FaultCase{u"", u"instrument \"\" is too short"},
        FaultCase{u"EUR USD", u"instrument holds a character that cannot be sent"},
        FaultCase{u"EUR#USD", u"instrument holds a character that cannot be sent"},
        FaultCase{u"EUR?USD", u"instrument holds a character that cannot be sent"},
        FaultCase{u"EUR\r\nUSD", u"instrument holds a character that cannot be sent"},
        FaultCase{u"ЕВРОUSD", u"instrument holds a character that cannot be sent"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::to_string(info.index); });

TEST_F(AbiBooksTest, ErrorReplyIsCutToTheIncomingLengthOfErr) {
  std::u16string err(10, u' ');
  EXPECT_EQ(lib().OrderBook(u"FAULT_404", 0, err.data()), -1);
  EXPECT_EQ(err, u"{\"errorMes");
}

TEST_F(AbiBooksTest, ReplyWithoutTheBookGivesAHandleThatReadsAsUnknown) {
  for (const char16_t* name : {u"FAULT_NOBOOK", u"FAULT_NULLBOOK"}) {
    Err err;
    int handle = lib().OrderBook(name, 0, err.get());
    ASSERT_GE(handle, 1) << Narrow(err.text());
    EXPECT_EQ(err.text(), u"");
    EXPECT_EQ(lib().OrderBook_Sz(handle, err.get()), -1);
    EXPECT_EQ(err.text(), u"Invalid refnum passed in " + U16(std::to_string(handle)));
    EXPECT_EQ(OrderMeta(handle).err,
              u"Invalid refnum or arrSz passed in: " + U16(std::to_string(handle)) + u", 1");
  }
}

TEST_F(AbiBooksTest, BytesAboveAsciiArriveAsQuestionMarks) {
  Err err;
  int handle = lib().OrderBook(u"FAULT_HIGHBYTES", 0, err.get());
  ASSERT_GE(handle, 1) << Narrow(err.text());
  Meta meta = OrderMeta(handle);
  EXPECT_EQ(meta.instrument, u"EUR???USD");  // "€" is three bytes in UTF-8
  EXPECT_EQ(meta.time, u"2019-12-23T15:00:00Z??");
}

TEST_F(AbiBooksTest, EncodedRepliesAreDecoded) {
  for (const char16_t* name : {u"FAULT_GZIP", u"FAULT_DEFLATE", u"FAULT_RAWDEFLATE"}) {
    Err err;
    int handle = lib().OrderBook(name, 0, err.get());
    ASSERT_GE(handle, 1) << Narrow(name) << ": " << Narrow(err.text());
    EXPECT_GT(lib().OrderBook_Sz(handle, err.get()), 0) << Narrow(name);
    EXPECT_EQ(OrderMeta(handle).instrument, name);
  }
}

TEST_F(AbiBooksTest, FollowedRedirectAndLargeRepliesSucceed) {
  Err err;
  int redirected = lib().OrderBook(u"FAULT_REDIRECT", 0, err.get());
  ASSERT_GE(redirected, 1) << Narrow(err.text());
  EXPECT_EQ(OrderMeta(redirected).instrument, u"EUR_USD");
  int large = lib().PositionBook(u"SIZE_10000", 0, err.get());
  ASSERT_GE(large, 1) << Narrow(err.text());
  EXPECT_EQ(lib().PositionBook_Sz(large, err.get()), 10000);
}

TEST_F(AbiBooksTest, TenRequestsShareOneConnection) {
  Err err;
  for (int i = 0; i < 10; ++i) ASSERT_GE(lib().OrderBook(u"EUR_USD", 0, err.get()), 1);
  // The sandbox reports, as the book's price, how many requests this connection has carried:
  // at least these eleven (WinHTTP may also have kept it from earlier tests in this process).
  int stats = lib().OrderBook(u"STATS_CONN", 0, err.get());
  ASSERT_GE(stats, 1) << Narrow(err.text());
  EXPECT_GE(OrderMeta(stats).price, 11.0);
}

TEST_F(AbiBooksTest, WrongTokenIsRefusedWithTheServiceText) {
  Init(u"TERVIK-k5 Practice-2", "not-the-token");
  Err err;
  EXPECT_EQ(lib().OrderBook(u"EURUSD", 0, err.get()), -1);
  EXPECT_EQ(err.text().rfind(u"{\"errorMessage\":\"Insufficient authorization to perform "
                             u"request.\"}\nHTTP 401",
                             0),
            0u)
      << Narrow(err.text());
}

TEST_F(AbiBooksTest, EachEnvironmentHasItsOwnBaseUrlAndToken) {
  // The staging live server answers only with its own token on its own port.
  Init(u"TervikTest-STG-k5 Live-3", "sandbox-staging_trade-token");
  Err err;
  int handle = lib().OrderBook(u"EURUSD", 0, err.get());
  EXPECT_GE(handle, 1) << Narrow(err.text());
  Init(u"TervikTest-STG-k5 Live-3", "sandbox-practice-token");
  EXPECT_EQ(lib().OrderBook(u"EURUSD", 0, err.get()), -1);
}

TEST_F(AbiBooksTest, UnverifiableCertificateFailsByDefault) {
  // The Dev server's certificate is self-signed: with validation on, no reply is accepted.
  Init(u"TervikTest-NG Dev", "sandbox-dev-token");
  Err err;
  EXPECT_EQ(lib().OrderBook(u"EURUSD", 0, err.get()), -1);
  EXPECT_EQ(err.text().rfind(u"GET https://localhost:47841/v3/instruments/EUR_USD/orderBook failed", 0),
            0u)
      << Narrow(err.text());
}

TEST(AbiBooksUninitialisedTest, RequestBeforeInitCredsFails) {
  LibraryCopy copy(u8"k5-abi-books-uninit");
  ASSERT_TRUE(copy.loaded()) << copy.error();
  Err err;
  EXPECT_EQ(copy.exports().OrderBook(u"EURUSD", 0, err.get()), -1);
  EXPECT_EQ(err.text().rfind(u"mkView has not been successfully initialized\n", 0), 0u)
      << Narrow(err.text());
}

}  // namespace
