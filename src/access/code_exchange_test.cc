#include "access/code_exchange.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <ostream>
#include <string>

#include "access/environments.h"
#include "common/failure.h"
#include "net/http_client.h"

namespace k5_mkview {
namespace {

struct CodeCase {
  const char* name;
  double open;
  std::int32_t magic;
  std::int32_t exp;
  const char* code;  // open's 8 bytes, then magic's 4, then exp's 4, each least significant first
};

void PrintTo(const CodeCase& c, std::ostream* out) { *out << c.name; }

class AssembleCodeTest : public ::testing::TestWithParam<CodeCase> {};

TEST_P(AssembleCodeTest, SixteenLittleEndianBytesInLowerCaseHex) {
  const CodeCase& c = GetParam();
  EXPECT_EQ(CodeExchange::AssembleCode(c.open, c.magic, c.exp), c.code);
}

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Layouts, AssembleCodeTest,
    ::testing::Values(
        CodeCase{"OneAndAHalf", 1.5, 0, 2001, "000000000000f83f00000000d1070000"},
        CodeCase{"ZeroOpen", 0.0, 0, 1, "00000000000000000000000001000000"},
        CodeCase{"NegativeNumbers", 1.0, -1, -2, "000000000000f03ffffffffffeffffff"},
        CodeCase{"Extremes", -2.5, kMin, kMax, "00000000000004c000000080ffffff7f"},
        CodeCase{"NegativeZeroWithMagic", -0.0, 1, 0, "00000000000000800100000000000000"},
        CodeCase{"NegativeZeroWithExp", -0.0, 0, -1, "000000000000008000000000ffffffff"},
        CodeCase{"Infinity", std::numeric_limits<double>::infinity(), 0, 0,
                 "000000000000f07f0000000000000000"},
        CodeCase{"SmallestSubnormal", 5e-324, 0, 0, "01000000000000000000000000000000"}),
    [](const ::testing::TestParamInfo<CodeCase>& info) { return std::string(info.param.name); });

// `open` given by its bits, for the values that a trip through a floating-point register may
// change (a signalling NaN turns quiet on the x87 unit of 32-bit x86).
struct BitsCase {
  const char* name;
  std::uint64_t open_bits;
  std::int32_t magic;
  const char* code;
};

void PrintTo(const BitsCase& c, std::ostream* out) { *out << c.name; }

class AssembleCodeBitsTest : public ::testing::TestWithParam<BitsCase> {};

TEST_P(AssembleCodeBitsTest, OpenKeepsItsBits) {
  const BitsCase& c = GetParam();
  double open;
  std::memcpy(&open, &c.open_bits, sizeof open);  // bytes only, no floating-point load
  EXPECT_EQ(CodeExchange::AssembleCode(open, c.magic, 0), c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Bits, AssembleCodeBitsTest,
    ::testing::Values(
        BitsCase{"ByteOrder", 0x0123456789abcdef, 0x01020304, "efcdab89674523010403020100000000"},
        BitsCase{"QuietNaN", 0x7ff8000000000000, 0, "000000000000f87f0000000000000000"},
        BitsCase{"NegativeNaN", 0xfff8000000000000, 7, "000000000000f8ff0700000000000000"},
        BitsCase{"NaNPayload", 0x7ff80000deadbeef, 0, "efbeadde0000f87f0000000000000000"},
        BitsCase{"SignallingNaN", 0x7ff0000000000001, 0, "010000000000f07f0000000000000000"}),
    [](const ::testing::TestParamInfo<BitsCase>& info) { return std::string(info.param.name); });

struct ParamCase {
  const char* name;
  FormParams params;
  const char* body;
};

void PrintTo(const ParamCase& c, std::ostream* out) { *out << c.name; }

class CreateParamStringTest : public ::testing::TestWithParam<ParamCase> {};

TEST_P(CreateParamStringTest, JoinsInOrderAndTrimsAmpersands) {
  EXPECT_EQ(CodeExchange::CreateParamString(GetParam().params), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, CreateParamStringTest,
    ::testing::Values(
        ParamCase{"None", {}, ""}, ParamCase{"One", {{"a", "1"}}, "a=1"},
        ParamCase{"InInsertionOrder", {{"z", "1"}, {"a", "2"}, {"m", "3"}}, "z=1&a=2&m=3"},
        ParamCase{"LastValueEndingInAmpersand", {{"a", "1"}, {"b", "x&"}}, "a=1&b=x"},
        ParamCase{"LastValueEndingInARun", {{"a", "1"}, {"b", "x&&&"}}, "a=1&b=x"},
        ParamCase{"MiddleValueKeepsItsAmpersand", {{"a", "x&"}, {"b", "2"}}, "a=x&&b=2"},
        ParamCase{"FirstNameStartingWithARun", {{"&&a", "1"}, {"b", "2"}}, "a=1&b=2"},
        ParamCase{"EmptyNameAndValue", {{"", ""}}, "="},
        ParamCase{"OnlyAmpersands", {{"&", ""}}, "="},
        ParamCase{"NothingEscaped", {{"q", "a b+c%20=d/é?#"}}, "q=a b+c%20=d/é?#"},
        ParamCase{"TheExchangeForm",
                  {{"client_id", "PracticeClient04"},
                   {"client_secret", "PracticeSecret000000000000000004"},
                   {"grant_type", "authorization_code"},
                   {"code", "000000000000f83f00000000d1070000"},
                   {"redirect_uri", "https://k5-mkview.example"}},
                  "client_id=PracticeClient04&client_secret=PracticeSecret000000000000000004&"
                  "grant_type=authorization_code&code=000000000000f83f00000000d1070000&"
                  "redirect_uri=https://k5-mkview.example"}),
    [](const ::testing::TestParamInfo<ParamCase>& info) { return std::string(info.param.name); });

struct ReplyCase {
  const char* name;
  const char* json;
  bool record;                              // a TokenResponse comes back
  std::optional<std::string> access_token;  // its token
  const char* failure = nullptr;            // or the start of the failure's message
};

void PrintTo(const ReplyCase& c, std::ostream* out) { *out << c.name; }

class TokenResponseTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(TokenResponseTest, MapsTheTokenAndIgnoresTheRest) {
  const ReplyCase& c = GetParam();
  if (c.failure != nullptr) {
    try {
      TokenResponse::FromJson(c.json);
      ADD_FAILURE() << "no failure";
    } catch (const Failure& e) {
      EXPECT_EQ(e.message().rfind(c.failure, 0), 0u) << e.message();
    }
    return;
  }
  std::optional<TokenResponse> reply = TokenResponse::FromJson(c.json);
  ASSERT_EQ(reply.has_value(), c.record);
  if (reply) {
    EXPECT_EQ(reply->access_token, c.access_token);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TokenResponseTest,
    ::testing::Values(
        ReplyCase{"Token", R"({"access_token":"abc","token_type":"Bearer","expires_in":86400})",
                  true, "abc"},
        ReplyCase{"NameInAnyCase", R"({"Access_Token":"abc"})", true, "abc"},
        ReplyCase{"NestedMembersOfTheSameNameIgnored",
                  R"({"x":{"access_token":"inner","y":[{"access_token":1}]},"access_token":"top"})",
                  true, "top"},
        ReplyCase{"NoToken", R"({"token_type":"Bearer"})", true, std::nullopt},
        ReplyCase{"NullToken", R"({"access_token":null})", true, std::nullopt},
        ReplyCase{"EmptyToken", R"({"access_token":""})", true, ""},
        ReplyCase{"NumberAsText", R"({"access_token":12.50})", true, "12.50"},
        ReplyCase{"EscapesDecoded", R"({"access_token":"a\"b\u20ac"})", true, "a\"b\xE2\x82\xAC"},
        ReplyCase{"Empty", "", false, std::nullopt},
        ReplyCase{"WhiteSpace", " \r\n\t ", false, std::nullopt},
        ReplyCase{"Null", " null ", false, std::nullopt},
        ReplyCase{"Malformed", R"({"access_token": )", false, std::nullopt,
                  "JSON reply is not valid: "},
        ReplyCase{"TopLevelArray", R"([{"access_token":"abc"}])", false, std::nullopt,
                  "JSON reply: an array where the token response object is expected"},
        ReplyCase{"TopLevelText", R"("abc")", false, std::nullopt,
                  "JSON reply: a text or number where the token response object"},
        ReplyCase{"TokenAsObject", R"({"access_token":{"value":"abc"}})", false, std::nullopt,
                  "JSON reply: an object where the text 'access_token' is expected"},
        ReplyCase{"TokenAsArray", R"({"access_token":["abc"]})", false, std::nullopt,
                  "JSON reply: an array where the text 'access_token' is expected"}),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

struct TokenCase {
  const char* name;
  const char* reply;                 // the body of a successful reply
  std::optional<std::string> token;  // its token, or nothing when it must fail
  std::string message;               // the failure's message, then
};

void PrintTo(const TokenCase& c, std::ostream* out) { *out << c.name; }

class TokenOfTest : public ::testing::TestWithParam<TokenCase> {};

// A successful reply without a token must fail rather than activate an environment with none.
TEST_P(TokenOfTest, TakesTheTokenOrFails) {
  const TokenCase& c = GetParam();
  const std::string url = "https://localhost:47844/v1/oauth2/access_token";
  try {
    std::string token = CodeExchange::TokenOf(TokenResponse::FromJson(c.reply), url);
    EXPECT_EQ(std::optional<std::string>(token), c.token);
  } catch (const Failure& e) {
    EXPECT_EQ(c.token, std::nullopt) << e.message();
    EXPECT_EQ(e.message(), c.message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, TokenOfTest,
    ::testing::Values(
        TokenCase{"Token", R"({"access_token":"abc","token_type":"Bearer"})", "abc", ""},
        TokenCase{"EmptyToken", R"({"access_token":""})", "", ""},
        TokenCase{"NoToken", R"({"token_type":"Bearer"})", std::nullopt,
                  "the token endpoint's reply holds no access_token"},
        TokenCase{"NullToken", R"({"access_token":null,"token_type":"Bearer"})", std::nullopt,
                  "the token endpoint's reply holds no access_token"},
        TokenCase{"OnlyANestedToken", R"({"x":{"access_token":"inner"}})", std::nullopt,
                  "the token endpoint's reply holds no access_token"},
        TokenCase{"NoValue", " null ", std::nullopt,
                  "POST https://localhost:47844/v1/oauth2/access_token: the token endpoint's "
                  "reply holds no token response (its body is empty or null), so no access "
                  "token was obtained"}),
    [](const ::testing::TestParamInfo<TokenCase>& info) { return std::string(info.param.name); });

TEST(CodeExchangeTest, UnknownServerFailsBeforeAnythingIsSentOrSwitched) {
  Environments::ResetForTesting();
  for (const char* server : {"TervikTest-NG dev", "TervikTest-NG Dev "}) {
    try {
      CodeExchange::InitializeCredentials(server, CodeExchange::AssembleCode(1.5, 0, 0));
      ADD_FAILURE() << "no failure";
    } catch (const Failure& e) {
      EXPECT_EQ(e.message(), std::string("Unrecognized Server: ") + server);
    }
  }
  // Names close to a Dev server's leave certificate validation on and nothing active.
  EXPECT_FALSE(AcceptsAnyServerCertificate());
  EXPECT_EQ(Environments::access(), nullptr);
}

}  // namespace
}  // namespace k5_mkview
