#ifndef K5_MKVIEW_TESTS_SUPPORT_REQUEST_LOG_H_
#define K5_MKVIEW_TESTS_SUPPORT_REQUEST_LOG_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace k5test {

// One request as the sandbox logged it (requests.jsonl); header names in lower case.
struct LoggedRequest {
  std::string env, method, target, body;
  int port = 0;
  std::vector<std::pair<std::string, std::string>> headers;

  // The value of the header `lower_name`, or nothing when the request did not carry it.
  std::optional<std::string> Header(const std::string& lower_name) const;
};

// The requests in the sandbox's log at `path`, in the order they arrived; its other events
// (connections, failed handshakes) are left out. Empty when the file cannot be read.
std::vector<LoggedRequest> ReadRequestLog(const std::string& path);

}  // namespace k5test

#endif  // K5_MKVIEW_TESTS_SUPPORT_REQUEST_LOG_H_
