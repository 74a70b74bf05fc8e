#include "common/utf.h"

#include <iterator>

#include "common/failure.h"
#include "utf8cpp/utf8.h"

namespace k5_mkview {

std::string Utf16ToUtf8(std::u16string_view text, std::string_view what) {
  std::string out;
  out.reserve(text.size());
  try {
    utf8::utf16to8(text.begin(), text.end(), std::back_inserter(out));
  } catch (const utf8::exception&) {
    throw Failure(std::string(what) + " is not valid UTF-16 (unpaired surrogate)");
  }
  return out;
}

std::string ReplaceInvalidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(out), 0xFFFD);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  if (utf8::is_valid(text.begin(), text.end())) {
    utf8::unchecked::utf8to16(text.begin(), text.end(), std::back_inserter(out));
  } else {
    std::string valid = ReplaceInvalidUtf8(text);
    utf8::unchecked::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
  }
  return out;
}

}  // namespace k5_mkview
