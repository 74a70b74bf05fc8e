// The text-buffer writer: any message into buffers of any length. The buffer takes exactly the
// first units of the whole message's UTF-16 form that fit, its NUL stays in bounds, and nothing
// after the caller's buffer changes.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf.h"
#include "exports/string_util.h"
#include "fuzz_check.h"

namespace {

constexpr char16_t kFill = u'#';
constexpr char16_t kGuard = u'\xBEEF';
constexpr std::size_t kGuards = 8;

void Write(std::string_view message, std::size_t capacity, const std::u16string& whole) {
  std::vector<char16_t> buffer(capacity + 1 + kGuards, kGuard);
  std::fill_n(buffer.begin(), capacity, kFill);
  buffer[capacity] = u'\0';

  k5_mkview::StringUtil::writeString(message, buffer.data());

  std::size_t n = std::min(capacity, whole.size());
  K5_FUZZ_CHECK(std::u16string_view(buffer.data(), n) == std::u16string_view(whole).substr(0, n));
  K5_FUZZ_CHECK(buffer[n] == u'\0');
  // Units between the new NUL and the old one are left as they were: at most n + 1 units change.
  for (std::size_t i = n + 1; i <= capacity; ++i) {
    K5_FUZZ_CHECK(buffer[i] == (i == capacity ? u'\0' : kFill));
  }
  for (std::size_t i = capacity + 1; i < buffer.size(); ++i) K5_FUZZ_CHECK(buffer[i] == kGuard);
}

}  // namespace

// Input: two bytes of capacity (little-endian, up to 1023), then the message.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  std::size_t capacity = (data[0] | data[1] << 8) & 0x3FF;
  std::string_view message(reinterpret_cast<const char*>(data + 2), size - 2);
  std::u16string whole = k5_mkview::Utf8ToUtf16(message);
  Write(message, capacity, whole);
  // The edges around the message's own length, where cutting starts or stops.
  for (std::size_t c : {whole.size(), whole.size() + 1}) Write(message, c, whole);
  if (!whole.empty()) Write(message, whole.size() - 1, whole);
  return 0;
}
