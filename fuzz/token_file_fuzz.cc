// The token file: its bytes decoded by their byte-order mark, the Base64 under the compiled key,
// and the write-then-read round trip under a key taken from the input.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "access/token_file.h"
#include "common/failure.h"
#include "common/utf.h"
#include "fuzz_check.h"
#include "utf8cpp/utf8.h"

namespace k5_mkview {
namespace {

bool InAlphabet(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

// Strict Base64 once white space is gone: whole groups of four, "=" only as the last one or two
// characters of the last group.
bool IsStrictBase64(std::string_view text) {
  std::string s;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') s += c;
  }
  if (s.size() % 4 != 0) return false;
  std::size_t padding = 0;
  if (!s.empty() && s.back() == '=') ++padding;
  if (s.size() >= 2 && s[s.size() - 2] == '=') ++padding;
  if (padding == 1 && s.back() != '=') return false;
  for (std::size_t i = 0; i < s.size() - padding; ++i) {
    if (!InAlphabet(s[i])) return false;
  }
  return true;
}

bool IsValidUtf8(std::string_view s) { return utf8::is_valid(s.begin(), s.end()); }

}  // namespace
}  // namespace k5_mkview

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace k5_mkview;
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // What ReadText does with the file's bytes.
  std::string text = DecodeText(bytes);
  K5_FUZZ_CHECK(IsValidUtf8(text));
  K5_FUZZ_CHECK(Utf16ToUtf8(Utf8ToUtf16(text)) == text);

  std::string cleaned = ReplaceInvalidUtf8(bytes);
  K5_FUZZ_CHECK(IsValidUtf8(cleaned));
  K5_FUZZ_CHECK(Utf16ToUtf8(Utf8ToUtf16(bytes)) == cleaned);
  if (IsValidUtf8(bytes)) K5_FUZZ_CHECK(cleaned == bytes);

  bool decoded = false;
  try {
    std::string token = TokenFile::decrypt(text);
    decoded = true;
    K5_FUZZ_CHECK(IsValidUtf8(token));
    // A token read back is written as the same token.
    K5_FUZZ_CHECK(TokenFile::decrypt(TokenFile::encrypt(token)) == token);
  } catch (const Failure&) {
  }
  K5_FUZZ_CHECK(decoded == IsStrictBase64(text));

  // Any bytes as a token under a key from the input: the written text is strict, unpadded only
  // for whole groups, and reads back as the token with invalid UTF-8 replaced.
  TokenFile::Key key{0x5A, 0x00, 0xFF, 0x81};
  for (std::size_t i = 0; i < key.size() && i < size; ++i) key[i] = data[i];
  std::string written = TokenFile::encrypt(bytes, key);
  K5_FUZZ_CHECK(written.size() == (size + 2) / 3 * 4);
  K5_FUZZ_CHECK(IsStrictBase64(written));
  K5_FUZZ_CHECK(TokenFile::decrypt(written, key) == cleaned);
  return 0;
}
