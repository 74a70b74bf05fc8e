#include "net/content_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <utility>

#include "common/failure.h"
#include "net/reply_buffer.h"

namespace k5_mkview {

struct ContentDecoder::Stream {
  z_stream z{};
  bool initialised = false;
  bool raw_deflate_fallback = false;  // "deflate": decide between zlib-wrapped and raw at first byte
  bool decided = false;
  bool ended = false;
  bool fed = false;  // an empty body labelled with an encoding has nothing to decode
  std::string held;  // "deflate": a first byte that came alone and may begin a zlib header
  std::string name;
  ~Stream() {
    if (initialised) inflateEnd(&z);
  }
  void Init(int window_bits) {
    if (inflateInit2(&z, window_bits) != Z_OK) throw Failure("cannot start the " + name + " decoder");
    initialised = true;
  }
};

namespace {

std::string Normalise(std::string_view encoding) {
  std::string s;
  for (char c : encoding) {
    if (c != ' ' && c != '\t') s += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return s;
}

}  // namespace

DecodedBodyTooLarge::DecodedBodyTooLarge(std::string encoding, std::size_t limit,
                                         std::source_location where)
    : Failure(encoding.empty()
                  ? "the reply's body is longer than " + std::to_string(limit) + " bytes"
                  : "the reply's " + encoding + " data decodes to more than " +
                        std::to_string(limit) + " bytes",
              where),
      encoding_(std::move(encoding)) {}

ContentDecoder::ContentDecoder(std::string_view encoding, std::size_t limit) : limit_(limit) {
  std::string name = Normalise(encoding);
  if (name == "gzip" || name == "x-gzip") {
    stream_ = std::make_unique<Stream>();
    stream_->name = "gzip";
    stream_->decided = true;
    stream_->Init(15 + 16);
  } else if (name == "deflate") {
    stream_ = std::make_unique<Stream>();
    stream_->name = "deflate";
    stream_->raw_deflate_fallback = true;
  }
}

ContentDecoder::~ContentDecoder() = default;

void ContentDecoder::Feed(std::string_view chunk, std::string* out) {
  if (!stream_) {
    if (!AppendWithinLimit(out, chunk, limit_)) throw DecodedBodyTooLarge("", limit_);
    return;
  }
  Stream& s = *stream_;
  if (chunk.empty()) return;
  s.fed = true;
  std::string joined;
  if (!s.decided) {
    if (!s.held.empty()) {
      joined = s.held;
      joined.append(chunk);
      chunk = joined;
      s.held.clear();
    }
    // A zlib header is two bytes whose big-endian value is a multiple of 31 with method 8; raw
    // deflate data almost never looks like that, and one byte is enough to rule most of it out.
    // A first byte that arrives alone and passes waits for the second, so that how the body is
    // split into chunks never changes how it is read.
    unsigned char cmf = static_cast<unsigned char>(chunk[0]);
    bool zlib_wrapped = (cmf & 0x0F) == 8 && (cmf >> 4) <= 7;
    if (zlib_wrapped && chunk.size() < 2) {
      s.held.assign(chunk);
      return;
    }
    if (zlib_wrapped) {
      unsigned flg = static_cast<unsigned char>(chunk[1]);
      zlib_wrapped = ((cmf << 8) | flg) % 31 == 0;
    }
    s.Init(zlib_wrapped ? 15 : -15);
    s.decided = true;
  }
  if (s.ended) {
    // Bytes after the end of the compressed stream: ignored, as browsers do.
    return;
  }
  s.z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
  s.z.avail_in = static_cast<uInt>(chunk.size());
  char buffer[16384];
  // Runs until the input is used up and the last round left room in the output (nothing pending).
  do {
    s.z.next_out = reinterpret_cast<Bytef*>(buffer);
    s.z.avail_out = sizeof(buffer);
    int rc = inflate(&s.z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
      throw Failure("the reply's " + s.name + " data is corrupt (zlib: " +
                    (s.z.msg != nullptr ? std::string(s.z.msg) : "error " + std::to_string(rc)) +
                    ")");
    }
    // Checked at every round, so a small chunk that inflates to gigabytes stops at the limit.
    if (!AppendWithinLimit(out, std::string_view(buffer, sizeof(buffer) - s.z.avail_out),
                           limit_)) {
      throw DecodedBodyTooLarge(s.name, limit_);
    }
    if (rc == Z_STREAM_END) {
      s.ended = true;
      return;
    }
  } while (s.z.avail_in > 0 || s.z.avail_out == 0);
}

void ContentDecoder::Finish() {
  if (stream_ && stream_->fed && !stream_->ended) {
    throw Failure("the reply's " + stream_->name + " data ends before the compressed stream does");
  }
}

}  // namespace k5_mkview
