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

std::string Decode(const std::string& encoding, const std::string& body, std::size_t chunk) {
  ContentDecoder decoder(encoding);
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

TEST(ContentDecoderTest, EmptyCompressedBodyIsEmpty) {
  // A server may label an empty body gzip; there is nothing to decode then.
  EXPECT_EQ(Decode("gzip", "", 8192), "");
}

}  // namespace
}  // namespace k5_mkview
