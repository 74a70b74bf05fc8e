#ifndef K5_MKVIEW_EXPORTS_STRING_UTIL_H_
#define K5_MKVIEW_EXPORTS_STRING_UTIL_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace k5_mkview {

class Failure;
class HttpFailure;

// Writing texts into caller-owned, NUL-terminated UTF-16 buffers. A buffer's capacity is the length
// of its content: the library never stores more code units than the buffer holds before the NUL,
// so at most length + 1 code units of the caller's memory change. A null buffer receives nothing.
class StringUtil {
 public:
  // Number of code units before the first NUL; 0 for a null buffer.
  static std::size_t length(const char16_t* text) noexcept;

  // dest becomes empty.
  static void clearString(char16_t* dest) noexcept;

  // dest becomes the first min(length(dest), length of msg) UTF-16 code units of msg (UTF-8).
  // Throws Failure, before dest changes, when msg is absent.
  static void writeString(std::optional<std::string_view> msg, char16_t* dest);

  // Writes the message of `e`, a line feed and its trace through writeString.
  static void writeException(const Failure& e, char16_t* dest);

  // For an HTTP failure that carries an error reply: writes the reply's body (UTF-8 unless a
  // byte-order mark says otherwise), a line feed and the description of the failure.
  static void writeWebException(const HttpFailure& e, char16_t* dest);
};

// The caller's err buffer during one guarded export call; every write into err goes through
// ForWriting(). It keeps the text err held on entry, copied just before the first write, so that
// Finish() can tell whether err comes back as it went in: a call that writes nothing copies
// nothing, however long err is.
class ErrText {
 public:
  explicit ErrText(char16_t* buffer) noexcept : buffer_(buffer) {}
  ErrText(const ErrText&) = delete;
  ErrText& operator=(const ErrText&) = delete;

  // The buffer, for a StringUtil write into it; keeps the entry text first. Never throws: when
  // even that copy fails, Finish() leaves err as it is.
  char16_t* ForWriting() noexcept;

  // err becomes empty when it holds its entry text (always when nothing was written).
  void Finish() noexcept;

 private:
  char16_t* buffer_;
  bool written_ = false;
  bool entry_kept_ = false;
  std::u16string entry_;
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_EXPORTS_STRING_UTIL_H_
