// InitCreds with non-zero numbers through the loaded library: the code they pack is exchanged at
// the sandbox's token endpoint, which chooses its faults by the exp number. What arrived there is
// read back from the sandbox's request log. Each test loads a copy of its own, so the certificate
// switch that a Dev exchange sets stays inside that copy.
//
// That a token-file initialisation for a Dev server leaves certificate validation on is shown by
// AbiBooksTest.UnverifiableCertificateFailsByDefault.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "access/token_file.h"
#include "deployment_config.h"
#include "exports/k5_mkview.h"
#include "support/library_copy.h"
#include "support/request_log.h"

namespace {

using k5test::LibraryCopy;
using k5test::LoggedRequest;
using k5test::Err;
using k5test::Narrow;
using k5test::ReadRequestLog;
using k5test::U16;
namespace deployment = k5_mkview::deployment;

constexpr const char16_t* kPracticeServer = u"TERVIK-k5 Practice-2";
constexpr const char16_t* kDevServer = u"TervikTest-NG Dev";

// The last request in the sandbox's log for which `match` holds.
template <typename Match>
std::optional<LoggedRequest> LastLogged(Match match) {
  std::optional<LoggedRequest> found;
  for (LoggedRequest& request : ReadRequestLog(K5_SANDBOX_REQUEST_LOG)) {
    if (match(request)) found = std::move(request);
  }
  return found;
}

// The token endpoint's request that carried `code`.
std::optional<LoggedRequest> TokenRequestWithCode(const std::string& code) {
  return LastLogged([&](const LoggedRequest& r) {
    return r.target == "/v1/oauth2/access_token" &&
           r.body.find("&code=" + code + "&") != std::string::npos;
  });
}

std::string ExpectedForm(const deployment::EnvironmentValues& env, const std::string& code) {
  return "client_id=" + std::string(env.client_id) +
         "&client_secret=" + std::string(env.client_secret) +
         "&grant_type=authorization_code&code=" + code +
         "&redirect_uri=" + std::string(deployment::kRedirectUri);
}

class AbiExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_ = std::make_unique<LibraryCopy>(u8"k5-abi-exchange");
    ASSERT_TRUE(copy_->loaded()) << copy_->error();
  }

  const k5test::K5Exports& lib() const { return copy_->exports(); }

  // An order book of EUR_USD from the active environment: its handle, or -1 with err.
  int OrderBook(Err& err) const { return lib().OrderBook(u"EURUSD", 0, err.get()); }

  std::unique_ptr<LibraryCopy> copy_;
};

TEST_F(AbiExchangeTest, ExchangedTokenCarriesTheFollowingBookRequest) {
  // No token file beside this copy: the token can only come from the exchange.
  ASSERT_FALSE(std::filesystem::exists(copy_->token_file()));
  const std::string code = "000000000000f83f2a00000039300000";  // 1.5, 42, 12345
  ASSERT_EQ(copy_->InitCreds(kPracticeServer, 1.5, 42, 12345), u"");

  std::optional<LoggedRequest> exchange = TokenRequestWithCode(code);
  ASSERT_TRUE(exchange) << "the token endpoint did not see the code " << code;
  EXPECT_EQ(exchange->env, "practice");
  EXPECT_EQ(exchange->method, "POST");
  EXPECT_EQ(exchange->body, ExpectedForm(deployment::kPractice, code));
  EXPECT_EQ(exchange->Header("accept"), "application/json");
  for (const char* absent :
       {"authorization", "content-type", "content-encoding", "accept-encoding", "expect"}) {
    EXPECT_EQ(exchange->Header(absent), std::nullopt) << absent;
  }

  Err err;
  int handle = OrderBook(err);
  ASSERT_GE(handle, 1) << Narrow(err.text());
  const std::string bearer = "Bearer issued-practice-" + code;
  EXPECT_TRUE(LastLogged([&](const LoggedRequest& r) {
    return r.env == "practice" && r.target == "/v3/instruments/EUR_USD/orderBook" &&
           r.Header("authorization") == bearer;
  })) << "no book request carried " + bearer;
}

// Calls the copy's InitCreds with `open` given by its bits and returns what err holds afterwards.
// On 32-bit x86 the double travels on the stack, and this program could move it through the x87
// unit on the way, which turns a signalling NaN quiet before the library sees it: there the eight
// bytes are passed as two 32-bit halves, the same stack layout a terminal writes.
std::u16string InitCredsWithBits(const k5test::K5Exports& lib, const char16_t* server,
                                 std::uint64_t open_bits, int magic, int exp) {
  std::u16string err(2000, u' ');
  if constexpr (sizeof(void*) == 4) {
    using Halves =
        void(K5_CALL*)(const char16_t*, std::uint32_t, std::uint32_t, int, int, char16_t*);
    auto init_creds = reinterpret_cast<Halves>(reinterpret_cast<void (*)()>(lib.InitCreds));
    init_creds(server, static_cast<std::uint32_t>(open_bits),
               static_cast<std::uint32_t>(open_bits >> 32), magic, exp, err.data());
  } else {
    double open;
    std::memcpy(&open, &open_bits, sizeof open);  // x86-64 passes it in an SSE register
    lib.InitCreds(server, open, magic, exp, err.data());
  }
  std::u16string text(err.c_str());
  k5test::RecordErrText(text);
  return text;
}

struct NumbersCase {
  const char* name;
  std::uint64_t open_bits;
  int magic;
  int exp;
  const char* code;
};

void PrintTo(const NumbersCase& c, std::ostream* out) { *out << c.name; }

class AbiExchangeCodeTest : public AbiExchangeTest,
                            public ::testing::WithParamInterface<NumbersCase> {};

// The numbers cross the export as the terminal passes them: a NaN's payload and quiet bit and a
// zero's sign reach the code unchanged, and any non-zero number takes the exchange, not the file.
TEST_P(AbiExchangeCodeTest, NonZeroNumbersTakeTheExchangeWithTheirCode) {
  const NumbersCase& c = GetParam();
  ASSERT_EQ(InitCredsWithBits(lib(), kPracticeServer, c.open_bits, c.magic, c.exp), u"");
  std::optional<LoggedRequest> exchange = TokenRequestWithCode(c.code);
  ASSERT_TRUE(exchange) << "the token endpoint did not see the code " << c.code;
  EXPECT_EQ(exchange->body, ExpectedForm(deployment::kPractice, c.code));
}

constexpr std::uint64_t BitsOf(double value) { return std::bit_cast<std::uint64_t>(value); }

INSTANTIATE_TEST_SUITE_P(
    Numbers, AbiExchangeCodeTest,
    ::testing::Values(
        NumbersCase{"ExpOnly", BitsOf(0.0), 0, 1, "00000000000000000000000001000000"},
        NumbersCase{"MagicOnly", BitsOf(0.0), 1, 0, "00000000000000000100000000000000"},
        NumbersCase{"NegativeZeroAndMagic", BitsOf(-0.0), -1, 0,
                    "0000000000000080ffffffff00000000"},
        NumbersCase{"NegativeExp", BitsOf(0.0), 0, -2, "000000000000000000000000feffffff"},
        NumbersCase{"OpenOnly", BitsOf(-2.5), 0, 0, "00000000000004c00000000000000000"},
        NumbersCase{"SmallestSubnormal", BitsOf(5e-324), 0, 0, "01000000000000000000000000000000"},
        NumbersCase{"NaNPayload", 0x7ff80000deadbeef, 0, 0, "efbeadde0000f87f0000000000000000"},
        NumbersCase{"NegativeNaN", 0xfff8000000000000, 0, 3, "000000000000f8ff0000000003000000"},
        NumbersCase{"SignallingNaN", 0x7ff0000000000001, 0, 0, "010000000000f07f0000000000000000"}),
    [](const ::testing::TestParamInfo<NumbersCase>& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  int exp;
  std::string message;  // err is this, a line feed and the trace
  bool whole = true;    // message is the whole text before the line feed, not only its start
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class AbiExchangeFailureTest : public AbiExchangeTest,
                               public ::testing::WithParamInterface<FailureCase> {};

// A failed exchange reports into err and leaves the active record as it was: here the staging
// live environment, initialised from the token file, which still serves books afterwards.
TEST_P(AbiExchangeFailureTest, ErrSaysWhyAndAccessStaysAsItWas) {
  const FailureCase& c = GetParam();
  copy_->WriteTokenFile(k5_mkview::TokenFile::encrypt("sandbox-staging_trade-token"));
  ASSERT_EQ(copy_->InitCreds(u"TervikTest-STG-k5 Live-3"), u"");

  std::u16string err = copy_->InitCreds(kPracticeServer, 1.5, 0, c.exp);
  std::u16string message = U16(c.message);
  std::size_t line_feed = err.find(u'\n');
  ASSERT_NE(line_feed, std::u16string::npos) << Narrow(err);
  if (c.whole) {
    EXPECT_EQ(err.substr(0, line_feed), message) << Narrow(err);
  } else {
    EXPECT_EQ(err.rfind(message, 0), 0u) << Narrow(err);
  }
  EXPECT_EQ(err.substr(line_feed + 1, 3), u"at ") << Narrow(err);  // the trace
  EXPECT_EQ(err.find(U16(std::string(deployment::kPractice.client_secret))), std::u16string::npos);

  Err book_err;
  EXPECT_GE(OrderBook(book_err), 1) << Narrow(book_err.text());
  EXPECT_TRUE(LastLogged([](const LoggedRequest& r) {
    return r.env == "staging_trade" && r.target == "/v3/instruments/EUR_USD/orderBook";
  }));
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AbiExchangeFailureTest,
    ::testing::Values(
        // Error replies: exactly their body.
        FailureCase{
            "Unauthorized", 401,
            R"({"error":"invalid_client","error_description":"Client authentication failed"})"},
        FailureCase{
            "BadRequest", 400,
            R"({"error":"invalid_grant","error_description":"Authorization code expired"})"},
        FailureCase{"UnauthorizedWithoutBody", 4010, ""},
        // Successful replies that hold no token, no token response, or no JSON.
        FailureCase{"NoAccessToken", 2001, "the token endpoint's reply holds no access_token"},
        FailureCase{"EmptyBody", 2002,
                    "POST " + std::string(deployment::kPractice.host) + "/v1/oauth2/access_token" +
                        ": the token endpoint's reply holds no token response",
                    false},
        FailureCase{"NullBody", 2003,
                    "POST " + std::string(deployment::kPractice.host) + "/v1/oauth2/access_token" +
                        ": the token endpoint's reply holds no token response",
                    false},
        FailureCase{"MalformedBody", 2004, "JSON reply is not valid: ", false},
        // No reply at all: what failed and where, and nothing of the form body.
        FailureCase{"NoReply", 5200,
                    "POST " + std::string(deployment::kPractice.host) +
                        "/v1/oauth2/access_token failed",
                    false}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST_F(AbiExchangeTest, ErrorReplyIsCutToTheIncomingLengthOfErr) {
  std::u16string err(10, u' ');
  lib().InitCreds(kPracticeServer, 1.5, 0, 401, err.data());
  EXPECT_EQ(err, u"{\"error\":\"");
}

TEST_F(AbiExchangeTest, ByteOrderMarkBeforeTheReplyIsNotPartOfIt) {
  ASSERT_EQ(copy_->InitCreds(kPracticeServer, 1.5, 0, 2005), u"");
  Err err;
  EXPECT_GE(OrderBook(err), 1) << Narrow(err.text());
  EXPECT_TRUE(LastLogged([](const LoggedRequest& r) {
    return r.env == "practice" && r.Header("authorization") == "Bearer bom-token";
  }));
}

TEST_F(AbiExchangeTest, FailedDevExchangeStillTurnsCertificateValidationOff) {
  // The Dev server's certificate is self-signed: without the switch this book request fails
  // (AbiBooksTest.UnverifiableCertificateFailsByDefault).
  std::u16string err = copy_->InitCreds(kDevServer, 1.5, 0, 401);
  EXPECT_EQ(err.rfind(u"{\"error\":\"invalid_client\"", 0), 0u) << Narrow(err);
  copy_->WriteTokenFile(k5_mkview::TokenFile::encrypt("sandbox-dev-token"));
  ASSERT_EQ(copy_->InitCreds(kDevServer), u"");
  Err book_err;
  EXPECT_GE(OrderBook(book_err), 1) << Narrow(book_err.text());
}

}  // namespace
