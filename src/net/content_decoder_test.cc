#include "net/content_decoder.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

#include "common/failure.h"

namespace k5_mkview {
namespace {

// Compresses with zlib: window_bits 15 + 16 for gzip, 15 for zlib-wrapped deflate, -15 for raw.
std::string Compress(const std::string& data, int window_bits) {
  z_stream z{};
  deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 32, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string Decode(const std::string& encoding, const std::string& body, std::size_t chunk,
                   std::size_t limit = std::string::npos) {
  ContentDecoder decoder(encoding, limit);
  std::string out;
  for (std::size_t i = 0; i < body.size(); i += chunk) {
    decoder.Feed(std::string_view(body).substr(i, chunk), &out);
  }
  decoder.Finish();
  return out;
}

std::string Payload() {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "{\"price\":\"1." + std::to_string(10000 + i) + "\"},";
  return text;
}

struct Case {
  const char* encoding;
  int window_bits;  // 0: sent as it stands
};

class ContentDecoderTest : public ::testing::TestWithParam<Case> {};

TEST_P(ContentDecoderTest, DecodesWhateverTheChunking) {
  const std::string payload = Payload();
  std::string body =
      GetParam().window_bits == 0 ? payload : Compress(payload, GetParam().window_bits);
  for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{8192}, body.size()}) {
    EXPECT_EQ(Decode(GetParam().encoding, body, chunk), payload) << "chunk " << chunk;
  }
}

TEST_P(ContentDecoderTest, LimitIsTheLongestDecodedBodyAllowed) {
  const std::string payload = Payload();
  std::string body =
      GetParam().window_bits == 0 ? payload : Compress(payload, GetParam().window_bits);
  EXPECT_EQ(Decode(GetParam().encoding, body, 8192, payload.size()), payload);
  ContentDecoder decoder(GetParam().encoding, payload.size() - 1);
  std::string out;
  EXPECT_THROW(decoder.Feed(body, &out), DecodedBodyTooLarge);
  EXPECT_LE(out.capacity(), payload.size() - 1);
}

INSTANTIATE_TEST_SUITE_P(Encodings, ContentDecoderTest,
                         ::testing::Values(Case{"gzip", 15 + 16}, Case{" GZip ", 15 + 16},
                                           Case{"deflate", 15}, Case{"deflate", -15},
                                           Case{"", 0}, Case{"identity", 0}));

TEST(ContentDecoderTest, CorruptDataFails) {
  std::string body = Compress(Payload(), 15 + 16);
  for (std::size_t i = 12; i < 60; ++i) body[i] = static_cast<char>(body[i] ^ 0x5A);
  EXPECT_THROW(Decode("gzip", body, 8192), Failure);
}

TEST(ContentDecoderTest, StreamCutOffFails) {
  std::string body = Compress(Payload(), 15 + 16);
  body.resize(body.size() / 2);
  EXPECT_THROW(Decode("gzip", body, 8192), Failure);
}

TEST(ContentDecoderTest, BombStopsAtTheLimitWithinOneChunk) {
  // 256 MiB of zeros compress to about 256 KB; fed at once, decoding must stop inside zlib's
  // output loop, before the body holds (or reserves) more than the limit.
  z_stream z{};
  deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_RLE);  // RLE: fast on zeros
  const std::string zeros(1 << 20, '\0');
  std::string bomb(1 << 20, '\0');
  z.next_out = reinterpret_cast<Bytef*>(bomb.data());
  z.avail_out = static_cast<uInt>(bomb.size());
  for (int i = 0; i < 256; ++i) {
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    z.avail_in = static_cast<uInt>(zeros.size());
    int rc = deflate(&z, i == 255 ? Z_FINISH : Z_NO_FLUSH);
    if (rc != (i == 255 ? Z_STREAM_END : Z_OK) || z.avail_out == 0) break;
  }
  ASSERT_GT(z.avail_out, 0u) << "the bomb did not fit";
  bomb.resize(z.total_out);
  deflateEnd(&z);

  constexpr std::size_t kLimit = 3 << 20;
  ContentDecoder decoder("gzip", kLimit);
  std::string out;
  try {
    decoder.Feed(bomb, &out);
    ADD_FAILURE() << "no failure";
  } catch (const DecodedBodyTooLarge& e) {
    EXPECT_EQ(e.encoding(), "gzip");
    EXPECT_EQ(e.message(), "the reply's gzip data decodes to more than 3145728 bytes");
  }
  EXPECT_LE(out.capacity(), kLimit);
  EXPECT_GT(out.size(), kLimit - 16384);  // it stopped at the limit, not at the first piece
}

TEST(ContentDecoderTest, EmptyCompressedBodyIsEmpty) {
  // A server may label an empty body gzip; there is nothing to decode then.
  EXPECT_EQ(Decode("gzip", "", 8192), "");
}

TEST(ContentDecoderTest, RawDeflateReadsTheSameWhenItsFirstByteComesAlone) {
  // A stored block that is not the last starts with 0x08, as a zlib header may; only the second
  // byte (0x05) rules the header out, so a first byte that arrives alone must wait for it.
  const std::string body("\x08\x05\x00\xFA\xFF" "hello" "\x01\x00\x00\xFF\xFF", 15);
  for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, body.size()}) {
    EXPECT_EQ(Decode("deflate", body, chunk), "hello") << "chunk " << chunk;
  }
  // The byte held back is not lost: alone it is a body cut off.
  EXPECT_THROW(Decode("deflate", body.substr(0, 1), 1), Failure);
}

}  // namespace
}  // namespace k5_mkview
