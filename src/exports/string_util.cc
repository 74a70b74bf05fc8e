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
  // Only a prefix of the message is converted, so a huge message costs no more than the buffer
  // can take. Valid UTF-8 needs at most 3 bytes per UTF-16 unit, but invalid UTF-8 can turn any
  // number of bytes into one U+FFFD, and a sequence cut at the prefix's end reads as U+FFFD
  // where the whole message has other units. So the prefix is exact only once it yields more
  // units than fit (the last one may be that cut); until then it doubles.
  std::size_t take = capacity * 3 + 4;
  std::u16string text;
  for (;;) {
    std::string_view head = msg->substr(0, std::min(msg->size(), take));
    text = Utf8ToUtf16(head);
    if (head.size() == msg->size() || text.size() > capacity) break;
    take *= 2;
  }
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

char16_t* ErrText::ForWriting() noexcept {
  if (!written_ && buffer_ != nullptr) {
    written_ = true;
    try {
      entry_.assign(buffer_);
      entry_kept_ = true;
    } catch (...) {
      // Out of memory: the write goes ahead, and err keeps whatever it ends up holding.
    }
  }
  return buffer_;
}

void ErrText::Finish() noexcept {
  if (buffer_ == nullptr) return;
  if (!written_ || (entry_kept_ && entry_ == std::u16string_view(buffer_))) {
    StringUtil::clearString(buffer_);
  }
}

}  // namespace k5_mkview
