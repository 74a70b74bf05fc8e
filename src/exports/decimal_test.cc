#include "exports/decimal.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <locale>
#include <string>

#include "common/failure.h"
#include "support/comma_locale.h"

namespace k5_mkview {
namespace {

struct GoodCase {
  const char* text;
  double value;
};

class DecimalGoodTest : public ::testing::TestWithParam<GoodCase> {};

TEST_P(DecimalGoodTest, Converts) {
  EXPECT_EQ(DecimalToDouble(std::string(GetParam().text), "v"), GetParam().value)
      << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DecimalGoodTest,
    ::testing::Values(GoodCase{"1.10250", 1.1025}, GoodCase{"0", 0.0}, GoodCase{"-2.5", -2.5},
                      GoodCase{"+2.5", 2.5}, GoodCase{"  7.25\t\r\n", 7.25}, GoodCase{".5", 0.5},
                      GoodCase{"5.", 5.0}, GoodCase{"1e3", 1000.0}, GoodCase{"2.5E-2", 0.025},
                      GoodCase{"1,5", 15.0}, GoodCase{"1,234,567.25", 1234567.25},
                      GoodCase{"-1,000", -1000.0}, GoodCase{"1e-400", 0.0},
                      GoodCase{"1.7976931348623157e308", std::numeric_limits<double>::max()},
                      GoodCase{"0.0001e-330", 0.0}));

class DecimalBadTest : public ::testing::TestWithParam<const char*> {};

TEST_P(DecimalBadTest, Fails) {
  EXPECT_THROW(DecimalToDouble(std::string(GetParam()), "v"), Failure) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Texts, DecimalBadTest,
                         ::testing::Values("", "   ", "abc", "1.10x", "1..2", "--1", "+-1", "1 2",
                                           ",5", "1,", "1.5,0", "1,,5", "nan", "inf", "Infinity",
                                           "0x10", "1e", "1e+", ".", "-", "1e400", "-1e400",
                                           "0.001e400", "1,5e400",
                                           // out of range, then more text: not a zero
                                           "1e-400x", "1e-401e-40", "-1e-400 5", "1e400x"));

TEST(DecimalTest, AbsentIsZero) { EXPECT_EQ(DecimalToDouble(std::nullopt, "v"), 0.0); }

TEST(DecimalTest, FailureNamesTheValueAndQuotesTheText) {
  try {
    DecimalToDouble(std::string("1.10x"), "bucket price");
    FAIL() << "no failure";
  } catch (const Failure& e) {
    EXPECT_EQ(e.message(), "bucket price is not a decimal number: \"1.10x\"");
  }
}

// Regional settings with "," as the decimal point must not change how service texts read.
TEST(DecimalTest, IgnoresACommaDecimalLocale) {
  k5test::ScopedCommaLocale locale;
  ASSERT_NE(locale.name(), nullptr) << "no comma-decimal locale is installed";
  ASSERT_STREQ(std::localeconv()->decimal_point, ",") << locale.name();
  EXPECT_EQ(DecimalToDouble(std::string("1.10250"), "v"), 1.1025);
  EXPECT_EQ(DecimalToDouble(std::string("1,5"), "v"), 15.0);
}

}  // namespace
}  // namespace k5_mkview
