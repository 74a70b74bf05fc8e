#ifndef K5_MKVIEW_ACCESS_TOKEN_FILE_H_
#define K5_MKVIEW_ACCESS_TOKEN_FILE_H_

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace k5_mkview {

// The token file: "tervik_token.txt" beside the library, holding the Base64 text (standard
// alphabet, "=" padding) of the token's UTF-8 bytes, each byte XORed with byte i % 4 of a key.
class TokenFile {
 public:
  using Key = std::array<std::uint8_t, 4>;

  static constexpr char kFileName[] = "tervik_token.txt";

  // The key compiled in from the deployment (K5_TOKEN_FILE_KEY).
  static const Key& CompiledKey();

  // The token that a token-file text holds: strict Base64 (space, tab, CR and LF skipped
  // anywhere; whole groups of four; at most two "=" and only at the end), unmasked with `key`,
  // read as UTF-8 with each invalid sequence replaced by U+FFFD. Throws Failure when the text is
  // not such Base64.
  static std::string decrypt(std::string_view str);
  static std::string decrypt(std::string_view str, const Key& key);

  // The token-file text for `token` (UTF-8): masked, Base64 with padding, no line break.
  static std::string encrypt(std::string_view token);
  static std::string encrypt(std::string_view token, const Key& key);

  // The whole file at `file` as UTF-8 text: a byte-order mark selects UTF-8, UTF-16 LE/BE or
  // UTF-32 LE/BE (and is dropped), else the bytes are UTF-8; invalid sequences become U+FFFD.
  // Throws Failure "File does not exist: " + the path in UTF-8 when there is no regular file
  // there or it cannot be opened, and a Failure with the system's message when reading fails.
  static std::string ReadText(const std::filesystem::path& file);

  // `path` as UTF-8, for messages.
  static std::string PathText(const std::filesystem::path& path);
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_ACCESS_TOKEN_FILE_H_
