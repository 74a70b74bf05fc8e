// gzip and deflate decoding fed in arbitrary chunks: any split of the same bytes gives the same
// result as one whole chunk, and the input compressed by zlib in each form comes back unchanged
// whatever the split.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"
#include "fuzz_check.h"
#include "net/content_decoder.h"

namespace {

constexpr std::string_view kEncodings[] = {"gzip", "deflate", "identity", " X-GZip ", "Deflate"};

// Chunk lengths from a seed: mostly short ones (1 to 8 bytes), sometimes long ones, so that
// splits land inside headers, blocks and trailers.
std::vector<std::size_t> Splits(std::uint32_t seed, std::size_t total) {
  std::vector<std::size_t> lengths;
  std::size_t done = 0;
  while (done < total) {
    seed = seed * 1103515245u + 12345u;
    std::size_t n = (seed >> 16) % 16 == 0 ? 1 + (seed >> 8) % 4096 : 1 + (seed >> 20) % 8;
    n = std::min(n, total - done);
    lengths.push_back(n);
    done += n;
  }
  return lengths;
}

// The decoded bytes, or nothing when the decoder failed (while feeding or at the end).
std::optional<std::string> Decode(std::string_view encoding, std::string_view body,
                                  const std::vector<std::size_t>& lengths) {
  k5_mkview::ContentDecoder decoder(encoding);
  std::string out;
  try {
    std::size_t at = 0;
    for (std::size_t n : lengths) {
      decoder.Feed(body.substr(at, n), &out);
      at += n;
    }
    decoder.Finish();
  } catch (const k5_mkview::Failure&) {
    return std::nullopt;
  }
  return out;
}

// window_bits as deflateInit2 takes them: 15 zlib-wrapped, -15 raw, 31 gzip.
std::string Compress(std::string_view bytes, int window_bits, int level) {
  z_stream z{};
  K5_FUZZ_CHECK(deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY) == Z_OK);
  std::string out(deflateBound(&z, bytes.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  K5_FUZZ_CHECK(deflate(&z, Z_FINISH) == Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

}  // namespace

// Input: one byte choosing the encoding and the compression level, four bytes of split seed, then
// the body.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  std::string_view encoding = kEncodings[data[0] % std::size(kEncodings)];
  std::uint32_t seed =
      data[1] | data[2] << 8 | data[3] << 16 | static_cast<std::uint32_t>(data[4]) << 24;
  std::string_view body(reinterpret_cast<const char*>(data + 5), size - 5);

  std::optional<std::string> whole = Decode(encoding, body, {body.size()});
  std::optional<std::string> split = Decode(encoding, body, Splits(seed, body.size()));
  K5_FUZZ_CHECK(whole.has_value() == split.has_value());
  if (whole) K5_FUZZ_CHECK(*whole == *split);
  if (encoding == "identity") K5_FUZZ_CHECK(whole && *whole == body);

  // Under a limit the result is the same as without one while it fits, and the size failure
  // when it does not; the output never grows past the limit on the way.
  std::size_t limit = seed % 2048;
  {
    k5_mkview::ContentDecoder decoder(encoding, limit);
    std::string out;
    bool too_large = false, failed = false;
    try {
      std::size_t at = 0;
      for (std::size_t n : Splits(seed, body.size())) {
        decoder.Feed(body.substr(at, n), &out);
        K5_FUZZ_CHECK(out.size() <= limit);
        at += n;
      }
      decoder.Finish();
    } catch (const k5_mkview::DecodedBodyTooLarge&) {
      too_large = true;
    } catch (const k5_mkview::Failure&) {
      failed = true;
    }
    K5_FUZZ_CHECK(out.size() <= limit);
    if (whole && whole->size() <= limit) K5_FUZZ_CHECK(!too_large && !failed && out == *whole);
    if (whole && whole->size() > limit) K5_FUZZ_CHECK(too_large);
  }

  int level = data[0] / std::size(kEncodings) % 10;
  struct Form {
    std::string_view encoding;
    int window_bits;
  };
  for (Form form : {Form{"gzip", 31}, Form{"deflate", 15}, Form{"deflate", -15}}) {
    std::string compressed = Compress(body, form.window_bits, level);
    std::optional<std::string> back =
        Decode(form.encoding, compressed, Splits(seed, compressed.size()));
    K5_FUZZ_CHECK(back && *back == body);
  }
  return 0;
}
