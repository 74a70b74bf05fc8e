#ifndef K5_MKVIEW_EXPORTS_DECIMAL_H_
#define K5_MKVIEW_EXPORTS_DECIMAL_H_

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <system_error>

namespace k5_mkview {

// Converts a decimal text from the service to a double, whatever the machine's regional settings:
// "." is the decimal point; white space around the number, a leading sign, a fraction and an
// exponent are allowed; "," between two digits of the integer part is a digit-group separator and
// is dropped ("1,5" reads as 15). Returns 0.0 for an absent text. Throws Failure naming `what`
// for an empty text, any other text, and a value beyond the range of a double.
//
// Inline so that _BookData's loop converts the service's plain texts ("0.0123") with no call but
// std::from_chars; any text that does not convert cleanly goes to the checked path, which decides
// what it means or how it fails, so both paths give the same result.
inline double DecimalToDouble(std::optional<std::string_view> text, std::string_view what);

namespace internal {
// DecimalToDouble for a present text, every case (the inline form below takes the common one).
double CheckedDecimalToDouble(std::string_view text, std::string_view what);
}  // namespace internal

inline double DecimalToDouble(std::optional<std::string_view> text, std::string_view what) {
  if (!text) return 0.0;
  const char* first = text->data();
  const char* last = first + text->size();
  if (first != last && ((*first >= '0' && *first <= '9') || *first == '-' || *first == '.')) {
    double value = 0.0;
    auto [end, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc() && end == last && std::isfinite(value)) return value;
  }
  return internal::CheckedDecimalToDouble(*text, what);
}

}  // namespace k5_mkview

#endif  // K5_MKVIEW_EXPORTS_DECIMAL_H_
