#ifndef K5_MKVIEW_COMMON_UTF_H_
#define K5_MKVIEW_COMMON_UTF_H_

#include <string>
#include <string_view>

namespace k5_mkview {

// Texts are UTF-8 inside the library and UTF-16 at the boundary; these are the only converters.

// Converts UTF-16 to UTF-8. Throws Failure naming `what` when the text holds an unpaired surrogate.
std::string Utf16ToUtf8(std::u16string_view text, std::string_view what = "text");

// Converts UTF-8 to UTF-16; each invalid byte sequence becomes U+FFFD. Never fails.
std::u16string Utf8ToUtf16(std::string_view text);

// Replaces each invalid UTF-8 sequence with U+FFFD.
std::string ReplaceInvalidUtf8(std::string_view text);

// Decodes the bytes of a text whose byte-order mark, if any, names its encoding (UTF-8, UTF-16 LE
// or BE, UTF-32 LE or BE); without one the bytes are UTF-8. Returns UTF-8 without the mark; each
// invalid sequence becomes U+FFFD. Never fails.
std::string DecodeText(std::string_view bytes);

}  // namespace k5_mkview

#endif  // K5_MKVIEW_COMMON_UTF_H_
