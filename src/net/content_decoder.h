#ifndef K5_MKVIEW_NET_CONTENT_DECODER_H_
#define K5_MKVIEW_NET_CONTENT_DECODER_H_

#include <cstddef>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "common/failure.h"

namespace k5_mkview {

// Thrown by ContentDecoder::Feed when the decoded body would grow past the decoder's limit.
class DecodedBodyTooLarge : public Failure {
 public:
  // `encoding`: "gzip", "deflate", or empty for a body passed through as it came.
  DecodedBodyTooLarge(std::string encoding, std::size_t limit,
                      std::source_location where = std::source_location::current());
  const std::string& encoding() const { return encoding_; }

 private:
  std::string encoding_;
};

// Decodes a reply body sent with Content-Encoding gzip or deflate, chunk by chunk as it arrives.
// Servers send "deflate" both zlib-wrapped (as the standard says) and raw; both are accepted.
class ContentDecoder {
 public:
  // `encoding` is the Content-Encoding header's value; identity, empty and unknown values pass
  // the bytes through unchanged. Case and surrounding spaces are ignored. `limit` caps the
  // length of *out that Feed may reach (see Feed).
  explicit ContentDecoder(std::string_view encoding,
                          std::size_t limit = std::numeric_limits<std::size_t>::max());
  ~ContentDecoder();
  ContentDecoder(const ContentDecoder&) = delete;
  ContentDecoder& operator=(const ContentDecoder&) = delete;

  // Appends the decoded form of `chunk` to *out. Throws Failure when the data is corrupt, and
  // DecodedBodyTooLarge as soon as *out would grow past the limit: a small chunk that inflates
  // to gigabytes stops there, and *out never holds nor reserves more than the limit.
  void Feed(std::string_view chunk, std::string* out);
  // Throws Failure when the stream ended before the compressed data was complete.
  void Finish();

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;  // null for identity
  std::size_t limit_;
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_NET_CONTENT_DECODER_H_
