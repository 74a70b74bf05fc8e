#include <atomic>

#include "net/http_client.h"

namespace k5_mkview {

namespace {
// Set by a code exchange for a Dev server; read by every request, on any thread.
std::atomic<bool> accept_any_certificate{false};
}  // namespace

void AcceptAnyServerCertificate() { accept_any_certificate.store(true); }

bool AcceptsAnyServerCertificate() { return accept_any_certificate.load(); }

std::string DescribeExchange(const HttpRequest& request) {
  return request.method + " " + request.url;
}

std::string DescribeOversizedReply(const HttpRequest& request, const std::string& excess) {
  return DescribeExchange(request) + ": the reply is over the limit of " +
         std::to_string(kMaxReplyBytes) + " bytes: " + excess;
}

std::string DescribeErrorReply(const HttpRequest& request, const HttpResponse& response) {
  std::string text = "HTTP " + std::to_string(response.status);
  if (!response.reason.empty()) text += " " + response.reason;
  text += " from " + DescribeExchange(request);
  return text;
}

}  // namespace k5_mkview
