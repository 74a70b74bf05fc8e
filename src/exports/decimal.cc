#include "exports/decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>

#include "common/failure.h"

namespace k5_mkview {

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void Reject(std::string_view what, std::string_view text, std::string_view why) {
  throw Failure(std::string(what) + " is " + std::string(why) + ": \"" + std::string(text) + "\"");
}

// For a text that from_chars found out of range: whether its magnitude is beyond the largest double
// (rather than below the smallest). The decimal order is the digits before the point, or minus the
// zeros after it, plus the exponent.
bool IsTooLarge(std::string_view number) {
  std::size_t e = number.find_first_of("eE");
  long long exponent = 0;
  if (e != std::string_view::npos) {
    std::string_view exp = number.substr(e + 1);
    bool negative = !exp.empty() && exp.front() == '-';
    if (!exp.empty() && (exp.front() == '-' || exp.front() == '+')) exp.remove_prefix(1);
    for (char c : exp) exponent = std::min(exponent * 10 + (c - '0'), 1000000LL);
    if (negative) exponent = -exponent;
    number = number.substr(0, e);
  }
  std::size_t point = number.find('.');
  std::string_view whole = number.substr(0, point);
  std::size_t first_nonzero = whole.find_first_not_of("-0");
  if (first_nonzero != std::string_view::npos) {
    return static_cast<long long>(whole.size() - first_nonzero) + exponent > 0;
  }
  std::string_view fraction = point == std::string_view::npos ? "" : number.substr(point + 1);
  std::size_t zeros = std::min(fraction.find_first_not_of('0'), fraction.size());
  return exponent - static_cast<long long>(zeros) > 0;
}

}  // namespace

namespace internal {

double CheckedDecimalToDouble(std::string_view text, std::string_view what) {
  std::string_view s = text;
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);

  // from_chars takes neither "+" nor group separators, and would take "inf" and "nan", which are
  // not numbers here; so the text is checked and cleaned into `digits` first.
  std::string digits;
  digits.reserve(s.size());
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') digits += '-';
    ++i;
  }
  if (i >= s.size() || !(IsDigit(s[i]) || s[i] == '.')) Reject(what, text, "not a decimal number");
  for (; i < s.size() && (IsDigit(s[i]) || s[i] == ','); ++i) {
    if (s[i] == ',') {
      bool between_digits = i > 0 && IsDigit(s[i - 1]) && i + 1 < s.size() && IsDigit(s[i + 1]);
      if (!between_digits) Reject(what, text, "not a decimal number");
      continue;
    }
    digits += s[i];
  }
  digits.append(s.substr(i));

  double value = 0.0;
  const char* first = digits.data();
  const char* last = digits.data() + digits.size();
  auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
  // Whole text first: an out-of-range number says only that its leading part is a number, and
  // "1e-400x" must not pass as zero.
  if (end != last || (ec != std::errc() && ec != std::errc::result_out_of_range)) {
    Reject(what, text, "not a decimal number");
  }
  if (ec == std::errc::result_out_of_range) {
    // A value too small for a double is zero, not a failure; only magnitudes beyond its range fail.
    if (!IsTooLarge(digits)) return digits.front() == '-' ? -0.0 : 0.0;
    Reject(what, text, "beyond the range of a double");
  }
  if (!std::isfinite(value)) Reject(what, text, "beyond the range of a double");
  return value;
}

}  // namespace internal

}  // namespace k5_mkview
