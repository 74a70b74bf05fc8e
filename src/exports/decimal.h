#ifndef K5_MKVIEW_EXPORTS_DECIMAL_H_
#define K5_MKVIEW_EXPORTS_DECIMAL_H_

#include <optional>
#include <string>
#include <string_view>

namespace k5_mkview {

// Converts a decimal text from the service to a double, whatever the machine's regional settings:
// "." is the decimal point; white space around the number, a leading sign, a fraction and an
// exponent are allowed; "," between two digits of the integer part is a digit-group separator and
// is dropped ("1,5" reads as 15). Returns 0.0 for an absent text. Throws Failure naming `what`
// for an empty text, any other text, and a value beyond the range of a double.
double DecimalToDouble(const std::optional<std::string>& text, std::string_view what);

}  // namespace k5_mkview

#endif  // K5_MKVIEW_EXPORTS_DECIMAL_H_
