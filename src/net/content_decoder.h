#ifndef K5_MKVIEW_NET_CONTENT_DECODER_H_
#define K5_MKVIEW_NET_CONTENT_DECODER_H_

#include <memory>
#include <string>
#include <string_view>

namespace k5_mkview {

// Decodes a reply body sent with Content-Encoding gzip or deflate, chunk by chunk as it arrives.
// Servers send "deflate" both zlib-wrapped (as the standard says) and raw; both are accepted.
class ContentDecoder {
 public:
  // `encoding` is the Content-Encoding header's value; identity, empty and unknown values pass
  // the bytes through unchanged. Case and surrounding spaces are ignored.
  explicit ContentDecoder(std::string_view encoding);
  ~ContentDecoder();
  ContentDecoder(const ContentDecoder&) = delete;
  ContentDecoder& operator=(const ContentDecoder&) = delete;

  // Appends the decoded form of `chunk` to *out. Throws Failure when the data is corrupt.
  void Feed(std::string_view chunk, std::string* out);
  // Throws Failure when the stream ended before the compressed data was complete.
  void Finish();

 private:
  struct Stream;
  std::unique_ptr<Stream> stream_;  // null for identity
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_NET_CONTENT_DECODER_H_
