#include "net/reply_buffer.h"

#include <algorithm>
#include <bit>

namespace k5_mkview {

bool AppendWithinLimit(std::string* body, std::string_view data, std::size_t limit) {
  if (data.size() > limit || body->size() > limit - data.size()) return false;
  std::size_t needed = body->size() + data.size();
  if (needed > body->capacity()) {
    // Growing in place would let std::string double its capacity past the limit (64 MiB of body
    // reserving 128 MiB in a 32-bit process), and reserve() doubles too; a fresh string takes
    // exactly what it is asked for. Powers of two: the last step before a power-of-two limit
    // then copies half the limit, not nearly all of it, so the old and the new buffer together
    // never touch much more than the limit.
    std::string bigger;
    bigger.reserve(needed > limit / 2 ? limit : std::min(std::bit_ceil(needed), limit));
    bigger.append(*body);
    body->swap(bigger);
  }
  body->append(data);
  return true;
}

}  // namespace k5_mkview
