#ifndef K5_MKVIEW_NET_HTTP_CLIENT_H_
#define K5_MKVIEW_NET_HTTP_CLIENT_H_

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/failure.h"

namespace k5_mkview {

// The most bytes a reply's body may hold, both as received and as decoded, for every request
// (books, the token endpoint, error replies). A real book is well under 2 MB and the largest
// synthetic one tested (100,000 buckets) about 8 MB, so the cap leaves room to grow while a
// hostile or broken server cannot make a 32-bit terminal run out of address space.
inline constexpr std::size_t kMaxReplyBytes = std::size_t{64} << 20;

struct HttpRequest {
  std::string method = "GET";
  std::string url;  // https://host[:port]/path[?query], sent as it stands
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> body;  // sent as it stands, with no content type
  // Announce gzip and deflate and hand back the decoded body; otherwise nothing is announced and
  // the body comes back as sent.
  bool decode_content = false;
  // Bytes to reserve for the (decoded) body before it arrives, at most kMaxReplyBytes; 0 for
  // none. A caller that knows the size of a like reply passes it, so a large body is neither
  // grown by copying nor handed back to the system between requests.
  std::size_t body_size_hint = 0;
};

struct HttpResponse {
  int status = 0;       // the final status, after redirects the client followed
  std::string reason;   // the status line's reason phrase, possibly empty
  std::string body;     // decoded when the request asked for it
};

// A failed exchange. With a reply, the server answered with a final status of 300 or above;
// without one, no reply was obtained (name resolution, connection, TLS, time-out, a reply cut off
// or undecodable), and message() says what failed and where with the platform's own code.
class HttpFailure : public Failure {
 public:
  HttpFailure(std::string message, std::optional<HttpResponse> reply,
              std::source_location where = std::source_location::current())
      : Failure(std::move(message), where), reply_(std::move(reply)) {}
  const std::optional<HttpResponse>& reply() const { return reply_; }

 private:
  std::optional<HttpResponse> reply_;
};

// Sends `request` over HTTPS on a process-wide client that reuses connections across calls and
// threads, follows redirects, and verifies the server's certificate unless
// AcceptAnyServerCertificate() was called. Returns the final response whatever its status.
// Throws HttpFailure without a reply when no complete reply could be obtained, and when the body
// would grow past kMaxReplyBytes as received or as decoded: a declared Content-Length over the
// cap fails before the body is read, and no more than the cap is ever held in memory.
HttpResponse SendHttpRequest(const HttpRequest& request);

// From now on, for the whole process, every request accepts any server certificate. Never undone.
void AcceptAnyServerCertificate();
bool AcceptsAnyServerCertificate();

// "GET https://host/resource": the exchange as messages name it. The URL holds no secret (the
// token travels in a header, client secrets in the body), so it is named in full.
std::string DescribeExchange(const HttpRequest& request);

// "GET https://host/resource: the reply is over the limit of 67108864 bytes: <excess>": the
// message of a reply refused for its size; `excess` says what went over ("its declared length
// is 70000000 bytes", ...).
std::string DescribeOversizedReply(const HttpRequest& request, const std::string& excess);

// "HTTP 404 Not Found from GET https://host/resource": the description of an error reply.
std::string DescribeErrorReply(const HttpRequest& request, const HttpResponse& response);

}  // namespace k5_mkview

#endif  // K5_MKVIEW_NET_HTTP_CLIENT_H_
