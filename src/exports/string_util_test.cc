#include "exports/string_util.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/failure.h"

namespace k5_mkview {
namespace {

constexpr char16_t kGuard = u'#';

// A caller buffer: `content` then NUL, then guard units that must survive any write.
struct CallerBuffer {
  explicit CallerBuffer(std::u16string content) : units(content.begin(), content.end()) {
    units.push_back(u'\0');
    units.insert(units.end(), 8, kGuard);
  }
  char16_t* data() { return units.data(); }
  std::u16string text() const { return std::u16string(units.data()); }
  bool GuardsIntact(std::size_t incoming) const {
    for (std::size_t i = incoming + 1; i < units.size(); ++i) {
      if (units[i] != kGuard) return false;
    }
    return true;
  }
  std::vector<char16_t> units;
};

struct WriteCase {
  std::size_t capacity;
  std::string msg;
  std::u16string expected;
};

class WriteStringTest : public ::testing::TestWithParam<WriteCase> {};

TEST_P(WriteStringTest, CutsToIncomingLengthAndNeverPassesTheNul) {
  const WriteCase& c = GetParam();
  CallerBuffer buffer(std::u16string(c.capacity, u' '));
  StringUtil::writeString(c.msg, buffer.data());
  EXPECT_EQ(buffer.text(), c.expected);
  EXPECT_TRUE(buffer.GuardsIntact(c.capacity));
}

INSTANTIATE_TEST_SUITE_P(
    Capacities, WriteStringTest,
    ::testing::Values(WriteCase{0, "hello", u""},            // nothing fits
                      WriteCase{1, "hello", u"h"},           // one unit
                      WriteCase{5, "hello", u"hello"},       // exact
                      WriteCase{4, "hello", u"hell"},        // one short
                      WriteCase{9, "hello", u"hello"},       // longer: text ends early
                      WriteCase{3, "", u""},                 // empty message empties
                      WriteCase{2, "\xC3\xA9t\xC3\xA9", u"\u00e9t"},  // UTF-8 becomes UTF-16
                      // A pair is two code units: a buffer of 1 takes only the first of them.
                      WriteCase{1, "\xF0\x9F\x98\x80", std::u16string(1, u'\xD83D')},
                      WriteCase{4, "a\xFF" "b", u"a\uFFFDb"},  // a bad byte becomes U+FFFD
                      // Many bytes that make one U+FFFD: what follows them still fills the buffer.
                      WriteCase{2, "\xC0\x80" + std::string(20, '\x80') + "ab", u"\uFFFDa"},
                      // A pair whose bytes lie beyond the first 3 per unit is not cut into U+FFFD.
                      WriteCase{2, "\xC0\x80\x80\x80\x80\x80\x80\x80\x80\xF0\x9F\x98\x80",
                                u"\uFFFD\xD83D"}));

TEST(StringUtilTest, AbsentMessageFailsBeforeTheBufferChanges) {
  CallerBuffer buffer(u"keep");
  EXPECT_THROW(StringUtil::writeString(std::nullopt, buffer.data()), Failure);
  EXPECT_EQ(buffer.text(), u"keep");
}

TEST(StringUtilTest, HugeMessageIsCutWithoutConvertingAllOfIt) {
  CallerBuffer buffer(std::u16string(10, u' '));
  StringUtil::writeString(std::string(50'000'000, 'x'), buffer.data());
  EXPECT_EQ(buffer.text(), std::u16string(10, u'x'));
  EXPECT_TRUE(buffer.GuardsIntact(10));
}

TEST(StringUtilTest, NullBufferReceivesNothing) {
  EXPECT_NO_THROW(StringUtil::writeString("text", nullptr));
  EXPECT_NO_THROW(StringUtil::clearString(nullptr));
  EXPECT_EQ(StringUtil::length(nullptr), 0u);
}

TEST(StringUtilTest, SecondWriteIsBoundByTheFirst) {
  // The capacity is the current content, so a shorter first text limits the next one.
  CallerBuffer buffer(std::u16string(10, u' '));
  StringUtil::writeString("abc", buffer.data());
  StringUtil::writeString("defghij", buffer.data());
  EXPECT_EQ(buffer.text(), u"def");
  EXPECT_TRUE(buffer.GuardsIntact(10));
}

TEST(StringUtilTest, ExceptionIsMessageLineFeedTrace) {
  CallerBuffer buffer(std::u16string(400, u' '));
  Failure failure("something broke");
  StringUtil::writeException(failure, buffer.data());
  std::u16string text = buffer.text();
  ASSERT_EQ(text.rfind(u"something broke\nat ", 0), 0u);
  EXPECT_NE(text.find(u"string_util_test.cc:"), std::u16string::npos);
}

}  // namespace
}  // namespace k5_mkview
