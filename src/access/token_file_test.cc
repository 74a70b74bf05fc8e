#include "access/token_file.h"

#include <gtest/gtest.h>

#include <string>

#include "common/failure.h"
#include "common/utf.h"

namespace k5_mkview {
namespace {

// With this key the mask changes nothing, so the cases read as plain Base64.
constexpr TokenFile::Key kNoMask{0, 0, 0, 0};

struct DecodeCase {
  const char* text;
  std::string token;
};

class Base64Accepts : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Base64Accepts, DecodesToTheToken) {
  EXPECT_EQ(TokenFile::decrypt(GetParam().text, kNoMask), GetParam().token);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Base64Accepts,
    ::testing::Values(DecodeCase{"", ""}, DecodeCase{" \t\r\n\r\n", ""}, DecodeCase{"YWJj", "abc"},
                      DecodeCase{"YWI=", "ab"}, DecodeCase{"YQ==", "a"},
                      DecodeCase{"YWJjZGVm", "abcdef"},
                      // Line breaks and blanks anywhere, padding included.
                      DecodeCase{"YWJj\r\n", "abc"}, DecodeCase{"YWJj\n", "abc"},
                      DecodeCase{"YW\r\nJj\nZG\tVm", "abcdef"}, DecodeCase{" Y W J j ", "abc"},
                      DecodeCase{"YQ= =\r\n", "a"},
                      // Both ends of the alphabet.
                      DecodeCase{"Pz8/", "???"}, DecodeCase{"Pj4+", ">>>"},
                      // UTF-8 comes through; what is not UTF-8 becomes U+FFFD.
                      DecodeCase{"4oKs", "\xE2\x82\xAC"}, DecodeCase{"/w==", "\xEF\xBF\xBD"},
                      DecodeCase{"YeKC", "a\xEF\xBF\xBD"}));

class Base64Refuses : public ::testing::TestWithParam<std::string> {};

TEST_P(Base64Refuses, WithAFailure) {
  try {
    TokenFile::decrypt(GetParam(), kNoMask);
    ADD_FAILURE() << "accepted";
  } catch (const Failure& e) {
    EXPECT_EQ(e.message().rfind("The token file is not valid Base64: ", 0), 0u) << e.message();
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Base64Refuses,
                         ::testing::Values(
                             // Not whole groups of four.
                             "YWJ", "YWJjY", "YQ=", "YWJj=", "YQ==\n=",
                             // Padding other than at the end, or more than two.
                             "YW=j", "Y===", "====", "=YWJ", "YQ==YQ==", "YQ==\nYWJj", "YQ=A",
                             // Characters outside the standard alphabet or the skipped blanks.
                             "YWJ-", "YWJ_", "YWJj\v", "YWJj\f", "YW.j", "YWJ\xC3\xA9Jj",
                             std::string("YW\0j", 4)));

TEST(TokenFileMask, KeyBytesRepeatFromTheFirstByte) {
  // By hand: "abcde" = 61 62 63 64 65, XOR 5a 3c 9e 17 5a = 3b 5e fd 73 3f, Base64 "O179cz8=".
  constexpr TokenFile::Key key{0x5a, 0x3c, 0x9e, 0x17};
  EXPECT_EQ(TokenFile::encrypt("abcde", key), "O179cz8=");
  EXPECT_EQ(TokenFile::decrypt("O179cz8=", key), "abcde");
  EXPECT_EQ(TokenFile::decrypt("O179cz8=\r\n", key), "abcde");
}

TEST(TokenFileMask, CompiledKeyRoundTripsEveryLength) {
  const std::string token = "sandbox-practice-token-\xD1\x82\xE3\x83\x88\xF0\x9F\x94\x91";
  for (std::size_t n = 0; n <= token.size(); ++n) {
    // Lengths cut inside a multi-byte character too: those bytes must come back as U+FFFD, never
    // as a failure.
    std::string part = token.substr(0, n);
    std::string text = TokenFile::encrypt(part);
    EXPECT_EQ(text.size() % 4, 0u);
    EXPECT_EQ(TokenFile::decrypt(text), ReplaceInvalidUtf8(part)) << n;
  }
}

}  // namespace
}  // namespace k5_mkview
