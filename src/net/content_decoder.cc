#include "net/content_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "common/failure.h"

namespace k5_mkview {

struct ContentDecoder::Stream {
  z_stream z{};
  bool initialised = false;
  bool raw_deflate_fallback = false;  // "deflate": decide between zlib-wrapped and raw at first byte
  bool decided = false;
  bool ended = false;
  bool fed = false;  // an empty body labelled with an encoding has nothing to decode
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

ContentDecoder::ContentDecoder(std::string_view encoding) {
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
    out->append(chunk);
    return;
  }
  Stream& s = *stream_;
  if (chunk.empty()) return;
  s.fed = true;
  if (!s.decided) {
    // A zlib header is two bytes whose big-endian value is a multiple of 31 with method 8; raw
    // deflate data almost never looks like that, and one byte is enough to rule most of it out.
    unsigned char cmf = static_cast<unsigned char>(chunk[0]);
    bool zlib_wrapped = (cmf & 0x0F) == 8 && (cmf >> 4) <= 7;
    if (zlib_wrapped && chunk.size() >= 2) {
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
    out->append(buffer, sizeof(buffer) - s.z.avail_out);
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
