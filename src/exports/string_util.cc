#include "exports/string_util.h"

#include <algorithm>
#include <string>

#include "common/failure.h"
#include "common/utf.h"
#include "net/http_client.h"

namespace k5_mkview {

std::size_t StringUtil::length(const char16_t* text) noexcept {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  while (text[n] != u'\0') ++n;
  return n;
}

void StringUtil::clearString(char16_t* dest) noexcept {
  if (dest != nullptr) dest[0] = u'\0';
}

void StringUtil::writeString(std::optional<std::string_view> msg, char16_t* dest) {
  if (!msg) throw Failure("no text to write: the value is absent");
  if (dest == nullptr) return;
  std::size_t capacity = length(dest);
  // A UTF-16 code unit takes at most 3 UTF-8 bytes, so converting only this prefix still fills
  // the buffer while a huge message costs no more than the buffer can take.
  std::size_t needed = capacity * 3 + 4;
  std::u16string text = Utf8ToUtf16(msg->substr(0, std::min(msg->size(), needed)));
  std::size_t n = std::min(capacity, text.size());
  std::copy_n(text.data(), n, dest);
  dest[n] = u'\0';
}

void StringUtil::writeException(const Failure& e, char16_t* dest) {
  writeString(e.message() + "\n" + e.trace(), dest);
}

void StringUtil::writeWebException(const HttpFailure& e, char16_t* dest) {
  std::string body = e.reply() ? DecodeText(e.reply()->body) : std::string();
  writeString(body + "\n" + e.message(), dest);
}

}  // namespace k5_mkview
