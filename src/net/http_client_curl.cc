// The HTTPS client on libcurl, for the native library.

#include <curl/curl.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <string>

#include "deployment_config.h"
#include "net/http_client.h"

namespace k5_mkview {
namespace {

// One share object makes every easy handle use the same connection cache, DNS cache and TLS
// sessions, so requests on any thread reuse open connections.
class SharedState {
 public:
  SharedState() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedState::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedState::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    ca_bundle_ = LoadCaBundle();
  }
  CURLSH* share() const { return share_; }
  // The system's CA bundle plus the deployment's extra CA file; empty when there is no extra file.
  const std::string& ca_bundle() const { return ca_bundle_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedState*>(self)->locks_[data].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedState*>(self)->locks_[data].unlock();
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  static std::string LoadCaBundle() {
    if (deployment::kExtraCaFile.empty()) return {};
    std::string extra = ReadFile(std::string(deployment::kExtraCaFile));
    if (extra.empty()) return {};
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    std::string bundle = info->cainfo != nullptr ? ReadFile(info->cainfo) : std::string();
    return bundle + "\n" + extra;
  }

  CURLSH* share_;
  std::string ca_bundle_;
  std::mutex locks_[CURL_LOCK_DATA_LAST];  // one per kind of shared data, as curl asks
};

SharedState& Shared() {
  // Made on first use: nothing runs while the library loads.
  static SharedState* state = new SharedState;  // lives as long as the process
  return *state;
}

struct EasyDeleter {
  void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Transfer {
  HttpResponse response;
  bool too_large = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  std::size_t n = size * count;
  if (transfer->response.body.size() + n >
      static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    transfer->too_large = true;
    return 0;  // aborts the transfer
  }
  transfer->response.body.append(data, n);
  return n;
}

// Keeps the reason phrase of the last status line (the final one after redirects).
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    transfer->response.body.clear();  // a redirect's body is not the reply's
    std::size_t first = line.find(' ');
    std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    std::string reason;
    if (second != std::string_view::npos) reason = std::string(line.substr(second + 1));
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) reason.pop_back();
    transfer->response.reason = reason;
  }
  return size * count;
}

}  // namespace

HttpResponse SendHttpRequest(const HttpRequest& request) {
  SharedState& shared = Shared();
  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  if (!easy) throw HttpFailure("cannot start an HTTP request (curl_easy_init failed)", std::nullopt);
  CURL* h = easy.get();

  std::unique_ptr<curl_slist, SlistDeleter> headers;
  auto add_header = [&headers](const std::string& line) {
    curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
    if (grown == nullptr) throw std::bad_alloc();
    headers.release();
    headers.reset(grown);
  };
  for (const auto& [name, value] : request.headers) add_header(name + ": " + value);
  // curl would add these on its own; the service is sent only what the caller asked for.
  add_header("Content-Type:");
  add_header("Expect:");

  Transfer transfer;
  char error[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(h, CURLOPT_SHARE, shared.share());
  curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "https");
  curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "https");
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 8192L);
  // No overall time-out, like the Windows client; but a peer that stops sending for a minute, or
  // a connection that cannot be made in a minute, ends the request instead of hanging a terminal.
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, 60L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &transfer);
  if (request.decode_content) {
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
  } else {
    curl_easy_setopt(h, CURLOPT_HTTP_CONTENT_DECODING, 0L);
  }
  if (request.method == "POST") {
    // curl reads the body during curl_easy_perform without copying it: point into `request`,
    // which outlives the transfer, never at a temporary of this block.
    const char* body = request.body ? request.body->c_str() : "";
    std::size_t body_size = request.body ? request.body->size() : 0;
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_size));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body);
  } else if (request.method != "GET") {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (!shared.ca_bundle().empty()) {
    curl_blob blob{const_cast<char*>(shared.ca_bundle().data()), shared.ca_bundle().size(),
                   CURL_BLOB_NOCOPY};
    curl_easy_setopt(h, CURLOPT_CAINFO_BLOB, &blob);
  }
  if (AcceptsAnyServerCertificate()) {
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
  }

  CURLcode rc = curl_easy_perform(h);
  if (transfer.too_large) {
    throw HttpFailure(DescribeExchange(request) + ": the reply is larger than 2147483647 bytes",
                      std::nullopt);
  }
  if (rc != CURLE_OK) {
    std::string detail = error[0] != '\0' ? std::string(error) : curl_easy_strerror(rc);
    throw HttpFailure(DescribeExchange(request) + " failed: curl error " +
                          std::to_string(rc) + " (" + curl_easy_strerror(rc) + "): " + detail,
                      std::nullopt);
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  transfer.response.status = static_cast<int>(status);
  return std::move(transfer.response);
}

}  // namespace k5_mkview
