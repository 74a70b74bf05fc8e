// The decimal rule: which texts are numbers, checked against a grammar of its own, and the value
// of each accepted text against std::from_chars over the text with sign "+" and separators gone.

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "common/failure.h"
#include "exports/decimal.h"
#include "fuzz_check.h"

namespace k5_mkview {
namespace {

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// sign? digits-with-groups? ("." digits?)? (e|E sign? digits)?, with at least one digit before
// the exponent, and "," only between two digits before the point.
bool IsDecimal(std::string_view s) {
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  for (; i < s.size() && (IsDigit(s[i]) || s[i] == ','); ++i) {
    if (s[i] == ',') {
      if (i == 0 || !IsDigit(s[i - 1]) || i + 1 >= s.size() || !IsDigit(s[i + 1])) return false;
    } else {
      ++digits;
    }
  }
  if (i < s.size() && s[i] == '.') {
    for (++i; i < s.size() && IsDigit(s[i]); ++i) ++digits;
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i) ++exponent_digits;
    if (exponent_digits == 0) return false;
  }
  return i == s.size();
}

}  // namespace
}  // namespace k5_mkview

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k5_mkview;
  std::string text(reinterpret_cast<const char*>(data), size);

  std::string_view trimmed = text;
  while (!trimmed.empty() && IsSpace(trimmed.front())) trimmed.remove_prefix(1);
  while (!trimmed.empty() && IsSpace(trimmed.back())) trimmed.remove_suffix(1);
  std::string clean;
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    if (trimmed[i] == ',' || (i == 0 && trimmed[i] == '+')) continue;
    clean += trimmed[i];
  }

  std::optional<double> value;
  try {
    value = DecimalToDouble(text, "fuzzed value");
  } catch (const Failure&) {
  }

  if (!IsDecimal(trimmed)) {
    K5_FUZZ_CHECK(!value);
    return 0;
  }
  double expected = 0.0;
  auto [end, ec] = std::from_chars(clean.data(), clean.data() + clean.size(), expected);
  K5_FUZZ_CHECK(ec == std::errc() || ec == std::errc::result_out_of_range);
  K5_FUZZ_CHECK(end == clean.data() + clean.size());
  bool negative = clean.front() == '-';
  if (ec == std::errc()) {
    K5_FUZZ_CHECK(value);
    K5_FUZZ_CHECK(*value == expected && std::signbit(*value) == std::signbit(expected));
    return 0;
  }
  // Out of range: a magnitude below the smallest double reads as a zero of the text's sign; one
  // beyond the largest is refused. Which one it is, is the order of the first non-zero digit.
  std::size_t e = clean.find_first_of("eE");
  std::string mantissa = clean.substr(0, e);
  long long exponent = 0;
  if (e != std::string::npos) {
    std::string_view x = std::string_view(clean).substr(e + 1);
    bool minus = x.front() == '-';
    if (x.front() == '-' || x.front() == '+') x.remove_prefix(1);
    for (char c : x) exponent = std::min(exponent * 10 + (c - '0'), 100000000LL);
    if (minus) exponent = -exponent;
  }
  std::size_t point = mantissa.find('.');
  if (point == std::string::npos) point = mantissa.size();
  std::size_t first = mantissa.find_first_of("123456789");
  K5_FUZZ_CHECK(first != std::string::npos);  // a zero is never out of range
  long long order = (first < point ? static_cast<long long>(point - first)
                                   : -static_cast<long long>(first - point) + 1) +
                    exponent;  // the value lies in [10^(order-1), 10^order)
  if (order > 0) {
    K5_FUZZ_CHECK(!value);
  } else {
    K5_FUZZ_CHECK(value && *value == 0.0 && std::signbit(*value) == negative);
  }
  return 0;
}
