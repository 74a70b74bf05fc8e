// Transport faults through the loaded library against the local sandbox: connections refused,
// reset or cut, broken encodings, redirect loops, replies over the size cap (declared, chunked,
// decoded from a gzip bomb) and just within it, a slow server. Each request sits between two good
// ones: a failure must leave err saying what failed, store nothing (the next good request gets
// exactly the handle after the last good one) and leave the library working.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "access/token_file.h"
#include "net/http_client.h"
#include "support/library_copy.h"

namespace {

using k5test::Err;
using k5test::LibraryCopy;
using k5test::Narrow;
using k5test::U16;

constexpr std::size_t kCap = k5_mkview::kMaxReplyBytes;

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

constexpr int kBarTime = 1577120400;  // 2019-12-23 17:00:00 on the +2 server clock

// The URL of a fault's request: messages name it in full, query included.
std::string Url(const std::string& instrument) {
  return "https://localhost:47844/v3/instruments/" + instrument +
         "/orderBook?time=2019-12-23T15:00:00Z";
}

std::string Over(const std::string& instrument, const std::string& excess) {
  return "GET " + Url(instrument) + ": the reply is over the limit of " + std::to_string(kCap) +
         " bytes: " + excess;
}

struct TransportCase {
  std::string name;
  std::string instrument;
  enum Outcome { kFails, kEmpty, kBook } outcome;
  // For kFails: how err begins, and what else it must hold on each platform ("" for nothing).
  std::string err_prefix;
  std::string native_detail;
  std::string windows_detail;
};

std::ostream& operator<<(std::ostream& out, const TransportCase& c) { return out << c.name; }

std::vector<TransportCase> Cases() {
  const std::string cap = std::to_string(kCap);
  const std::string over = std::to_string(kCap + 1);
  auto failed = [](const std::string& instrument) { return "GET " + Url(instrument) + " failed"; };
  return {
      {"Refused", "FAULT_REFUSED", TransportCase::kFails, failed("FAULT_REFUSED"), "curl error 7 ",
       "(WinHttpReceiveResponse): WinHTTP error 12029"},
      {"ResetBeforeTheReply", "FAULT_RESET_BEFORE", TransportCase::kFails,
       failed("FAULT_RESET_BEFORE"), "curl error 56 ", "(WinHttpReceiveResponse): WinHTTP error "},
      {"ResetDuringTheReply", "FAULT_RESET_DURING", TransportCase::kFails,
       failed("FAULT_RESET_DURING"), "curl error 56 ", "(WinHttpReadData): WinHTTP error "},
      {"ClosedWithoutAReply", "FAULT_CLOSE", TransportCase::kFails, failed("FAULT_CLOSE"),
       "curl error 52 ", "(WinHttpReceiveResponse): WinHTTP error "},
      {"BodyCutOff", "FAULT_CUT", TransportCase::kFails, failed("FAULT_CUT"), "curl error 18 ",
       ": the reply ended after "},
      {"UnencodedBodyCutOff", "FAULT_CUT_IDENTITY", TransportCase::kFails,
       failed("FAULT_CUT_IDENTITY"), "curl error 18 ", ": the reply ended after "},
      {"BrokenGzip", "FAULT_BADGZIP", TransportCase::kFails, failed("FAULT_BADGZIP"),
       "curl error 61 ", "gzip data is corrupt"},
      {"RedirectLoop", "FAULT_REDIRECT_LOOP", TransportCase::kFails, failed("FAULT_REDIRECT_LOOP"),
       "curl error 47 ", "(WinHttpReceiveResponse): WinHTTP error 12156"},
      // Over the cap: the same text on every platform.
      {"DeclaredLengthOverTheCap", "FAULT_LENGTH_" + over, TransportCase::kFails,
       Over("FAULT_LENGTH_" + over, "its declared length is " + over + " bytes; it was not read"),
       "", ""},
      // Past what a 32-bit length holds: must not wrap to a small number.
      {"DeclaredLengthOver4GiB", "FAULT_LENGTH_4294967297", TransportCase::kFails,
       Over("FAULT_LENGTH_4294967297", "its declared length is 4294967297 bytes; it was not read"),
       "", ""},
      {"ChunkedOverTheCap", "FAULT_CHUNKED_" + over, TransportCase::kFails,
       Over("FAULT_CHUNKED_" + over, "more than " + cap + " bytes arrived; the rest was not read"),
       "", ""},
      {"GzipBomb", "FAULT_BOMB", TransportCase::kFails,
       Over("FAULT_BOMB", "its gzip data decodes to more than " + cap + " bytes after "), "", ""},
      {"DecodedOneByteOverTheCap", "FAULT_PADDED_" + over, TransportCase::kFails,
       Over("FAULT_PADDED_" + over, "its gzip data decodes to more than " + cap + " bytes after "),
       "", ""},
      // Exactly at the cap is still allowed: spaces only read as a reply without a book (-1, err
      // empty), and a book padded to the cap is stored.
      {"ChunkedAtTheCap", "FAULT_CHUNKED_" + cap, TransportCase::kEmpty, "", "", ""},
      {"DecodedAtTheCap", "FAULT_PADDED_" + cap, TransportCase::kBook, "", "", ""},
      {"SlowServer", "FAULT_SLOW", TransportCase::kBook, "", "", ""},
  };
}

class AbiTransportFaultTest : public ::testing::TestWithParam<TransportCase> {
 protected:
  void SetUp() override {
    copy_ = std::make_unique<LibraryCopy>(u8"k5-abi-faults");
    ASSERT_TRUE(copy_->loaded()) << copy_->error();
    copy_->WriteTokenFile(k5_mkview::TokenFile::encrypt("sandbox-practice-token") + "\n");
    ASSERT_EQ(copy_->InitCreds(u"TERVIK-k5 Practice-2"), u"");
    Err err;
    lib().InitTimeZoneInfo(2, err.get());
    ASSERT_EQ(err.text(), u"");
  }
  const k5test::K5Exports& lib() const { return copy_->exports(); }

  std::unique_ptr<LibraryCopy> copy_;
};

TEST_P(AbiTransportFaultTest, EndsAsDocumentedAndTheNextRequestWorks) {
  const TransportCase& c = GetParam();
  Err err;
  int before = lib().OrderBook(u"EUR_USD", 0, err.get());
  ASSERT_GE(before, 1) << Narrow(err.text());

  int handle = lib().OrderBook(U16(c.instrument).c_str(), kBarTime, err.get());
  std::u16string text = err.text();
  int expected_next = before + 1;
  switch (c.outcome) {
    case TransportCase::kFails: {
      EXPECT_EQ(handle, -1);
      EXPECT_EQ(text.rfind(U16(c.err_prefix), 0), 0u) << Narrow(text);
      const std::string& detail = kWindows ? c.windows_detail : c.native_detail;
      EXPECT_NE(text.find(U16(detail)), std::u16string::npos) << Narrow(text);
      break;
    }
    case TransportCase::kEmpty:
      EXPECT_EQ(handle, -1);
      EXPECT_EQ(text, u"");
      break;
    case TransportCase::kBook:
      EXPECT_EQ(handle, before + 1) << Narrow(text);
      EXPECT_GT(lib().OrderBook_Sz(handle, err.get()), 0) << Narrow(err.text());
      expected_next = before + 2;
      break;
  }

  EXPECT_EQ(lib().OrderBook(u"EUR_USD", 0, err.get()), expected_next) << Narrow(err.text());
}

INSTANTIATE_TEST_SUITE_P(Transport, AbiTransportFaultTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<TransportCase>& info) {
                           return info.param.name;
                         });

TEST(AbiTokenEndpointFaultTest, ErrorReplyOverTheCapIsRefused) {
  // The token endpoint answers exp 4130 with an error reply of `magic` bytes, sent chunked.
  LibraryCopy copy(u8"k5-abi-faults-token");
  ASSERT_TRUE(copy.loaded()) << copy.error();
  std::u16string err =
      copy.InitCreds(u"TERVIK-k5 Practice-2", 1.5, static_cast<int>(kCap + 1), 4130);
  std::u16string expected =
      U16("POST https://localhost:47844/v1/oauth2/access_token: the reply "
          "is over the limit of " +
          std::to_string(kCap) + " bytes: more than " + std::to_string(kCap) +
          " bytes arrived; the rest was not read\n");
  EXPECT_EQ(err.rfind(expected, 0), 0u) << Narrow(err);
  // The same error reply within the cap is passed on as it came, followed by its description.
  err = copy.InitCreds(u"TERVIK-k5 Practice-2", 1.5, 1000, 4130);
  EXPECT_EQ(err.rfind(std::u16string(1000, u' ') + u"\n", 0), 0u) << Narrow(err.substr(990));
}

}  // namespace
