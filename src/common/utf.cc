#include "common/utf.h"

#include <cstdint>
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

namespace {

// Reads code units of `width` bytes in the given byte order; a trailing partial unit is dropped
// as U+FFFD.
template <typename Unit>
std::basic_string<Unit> Units(std::string_view bytes, bool big_endian, bool* partial) {
  constexpr std::size_t width = sizeof(Unit);
  std::basic_string<Unit> units;
  units.reserve(bytes.size() / width);
  for (std::size_t i = 0; i + width <= bytes.size(); i += width) {
    std::uint32_t v = 0;
    for (std::size_t b = 0; b < width; ++b) {
      std::uint32_t byte = static_cast<unsigned char>(bytes[i + b]);
      v |= byte << (8 * (big_endian ? width - 1 - b : b));
    }
    units.push_back(static_cast<Unit>(v));
  }
  *partial = bytes.size() % width != 0;
  return units;
}

std::string FromUtf16(std::u16string_view units) {
  // Unpaired surrogates become U+FFFD instead of failing the whole text.
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char16_t u = units[i];
    std::uint32_t cp = u;
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      cp = 0xFFFD;
    }
    utf8::append(static_cast<char32_t>(cp), std::back_inserter(out));
  }
  return out;
}

std::string FromUtf32(std::u32string_view units) {
  std::string out;
  out.reserve(units.size());
  for (char32_t cp : units) {
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    utf8::append(cp, std::back_inserter(out));
  }
  return out;
}

}  // namespace

std::string DecodeText(std::string_view bytes) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  bool partial = false;
  std::string text;
  // UTF-32 LE's mark begins with UTF-16 LE's, so it is tested first.
  if (starts(std::string_view("\xFF\xFE\x00\x00", 4))) {
    text = FromUtf32(Units<char32_t>(bytes.substr(4), false, &partial));
  } else if (starts(std::string_view("\x00\x00\xFE\xFF", 4))) {
    text = FromUtf32(Units<char32_t>(bytes.substr(4), true, &partial));
  } else if (starts("\xFF\xFE")) {
    text = FromUtf16(Units<char16_t>(bytes.substr(2), false, &partial));
  } else if (starts("\xFE\xFF")) {
    text = FromUtf16(Units<char16_t>(bytes.substr(2), true, &partial));
  } else {
    return ReplaceInvalidUtf8(starts("\xEF\xBB\xBF") ? bytes.substr(3) : bytes);
  }
  if (partial) utf8::append(static_cast<char32_t>(0xFFFD), std::back_inserter(text));
  return text;
}

}  // namespace k5_mkview
