#include "access/token_file.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <ios>
#include <string>
#include <string_view>
#include <system_error>

#include "common/failure.h"
#include "common/utf.h"
#include "deployment_config.h"

namespace k5_mkview {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

[[noreturn]] void Base64Failure(const std::string& what) {
  throw Failure("The token file is not valid Base64: " + what);
}

std::string Describe(char c, std::size_t offset) {
  auto byte = static_cast<unsigned char>(c);
  std::string text = byte >= 0x21 && byte < 0x7F ? "'" + std::string(1, c) + "'"
                                                 : "the byte " + std::to_string(byte);
  return text + " at offset " + std::to_string(offset);
}

// Written here rather than taken from a library: the rule of what is accepted is the system's own.
std::string DecodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t group = 0;
  int filled = 0;   // characters of the current group, padding included
  int padding = 0;  // "=" seen; once non-zero only "=" may follow, up to the group's end
  bool ended = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    if (ended) Base64Failure(Describe(c, i) + " follows the padding");
    if (c == '=') {
      // "xx==" and "xxx=" are the only padded groups.
      if (filled < 2) {
        Base64Failure("'=' at offset " + std::to_string(i) +
                      " stands where a group's first two characters belong");
      }
      ++padding;
      group <<= 6;
    } else {
      int value = Base64Value(c);
      if (value < 0) Base64Failure(Describe(c, i) + " is not in the Base64 alphabet");
      if (padding > 0) Base64Failure(Describe(c, i) + " follows the padding");
      group = (group << 6) | static_cast<std::uint32_t>(value);
    }
    if (++filled == 4) {
      out.push_back(static_cast<char>((group >> 16) & 0xFF));
      if (padding < 2) out.push_back(static_cast<char>((group >> 8) & 0xFF));
      if (padding < 1) out.push_back(static_cast<char>(group & 0xFF));
      ended = padding > 0;
      group = 0;
      filled = 0;
    }
  }
  if (filled != 0) {
    Base64Failure("its length without white space is not a multiple of 4");
  }
  return out;
}

std::string EncodeBase64(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (n > 1) group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (n > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    out.push_back(kAlphabet[(group >> 18) & 63]);
    out.push_back(kAlphabet[(group >> 12) & 63]);
    out.push_back(n > 1 ? kAlphabet[(group >> 6) & 63] : '=');
    out.push_back(n > 2 ? kAlphabet[group & 63] : '=');
  }
  return out;
}

// XOR is its own inverse: the same call masks and unmasks.
std::string Mask(std::string_view bytes, const TokenFile::Key& key) {
  std::string out(bytes);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char>(static_cast<unsigned char>(out[i]) ^ key[i % key.size()]);
  }
  return out;
}

}  // namespace

const TokenFile::Key& TokenFile::CompiledKey() { return deployment::kTokenFileKey; }

std::string TokenFile::decrypt(std::string_view str) { return decrypt(str, CompiledKey()); }

std::string TokenFile::decrypt(std::string_view str, const Key& key) {
  return ReplaceInvalidUtf8(Mask(DecodeBase64(str), key));
}

std::string TokenFile::encrypt(std::string_view token) { return encrypt(token, CompiledKey()); }

std::string TokenFile::encrypt(std::string_view token, const Key& key) {
  return EncodeBase64(Mask(token, key));
}

std::string TokenFile::ReadText(const std::filesystem::path& file) {
  // A directory, a device or anything unopenable counts as no file: the message tells the user
  // where the file is expected, which is what they need to fix either case.
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(file, ignored)) {
    throw Failure("File does not exist: " + PathText(file));
  }
  std::ifstream in(file, std::ios::binary);
  if (!in.is_open()) throw Failure("File does not exist: " + PathText(file));
  // With badbit as an exception the stream hands on the system's error of a failed read, which
  // it would otherwise swallow.
  in.exceptions(std::ios::badbit);
  std::string bytes;
  try {
    char buffer[4096];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
      bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
  } catch (const std::ios_base::failure& e) {
    throw Failure("Cannot read " + PathText(file) + ": " + e.code().message());
  }
  // The shared decoder: a byte-order mark picks UTF-8, UTF-16 or UTF-32.
  return DecodeText(bytes);
}

std::string TokenFile::PathText(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace k5_mkview
