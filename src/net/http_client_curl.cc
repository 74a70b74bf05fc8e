// The HTTPS client on libcurl, for the native library.

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "deployment_config.h"
#include "net/http_client.h"
#include "net/reply_buffer.h"

namespace k5_mkview {
namespace {

// One share object gives every easy handle the same DNS cache and TLS sessions. Connections are
// not put in it: curl's shared connection cache is not safe across threads (its known bug 11.11),
// so each easy handle keeps its own, and a finished handle goes back to a pool for the next
// request, on whatever thread, to reuse.
class SharedState {
 public:
  SharedState() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &SharedState::Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &SharedState::Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    ca_bundle_ = LoadCaBundle();
  }
  CURLSH* share() const { return share_; }

  // An easy handle with no options set, idle since its last request (its connections still
  // open), or a new one; null when curl cannot make one.
  CURL* TakeEasy() {
    CURL* easy = nullptr;
    {
      std::lock_guard<std::mutex> hold(idle_lock_);
      if (!idle_.empty()) {
        easy = idle_.back();
        idle_.pop_back();
      }
    }
    if (easy == nullptr) return curl_easy_init();
    curl_easy_reset(easy);  // keeps the open connections, drops the last request's options
    return easy;
  }
  // Hands back a handle after its request; beyond a few idle ones it is closed.
  void GiveBackEasy(CURL* easy) {
    {
      std::lock_guard<std::mutex> hold(idle_lock_);
      if (idle_.size() < kMaxIdle) {
        idle_.push_back(easy);
        return;
      }
    }
    curl_easy_cleanup(easy);
  }
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

  // More requests than this at once are rare in a terminal; their extra handles are closed.
  static constexpr std::size_t kMaxIdle = 8;

  CURLSH* share_;
  std::string ca_bundle_;
  std::mutex locks_[CURL_LOCK_DATA_LAST];  // one per kind of shared data, as curl asks
  std::mutex idle_lock_;
  std::vector<CURL*> idle_;  // GUARDED_BY(idle_lock_)
};

SharedState& Shared() {
  // Made on first use: nothing runs while the library loads.
  static SharedState* state = new SharedState;  // lives as long as the process
  return *state;
}

// Returns the easy handle to the pool when the request is over, however it ended.
struct EasyDeleter {
  void operator()(CURL* handle) const { Shared().GiveBackEasy(handle); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Transfer {
  HttpResponse response;
  // Of the response being received (a redirect's headers come first): its Content-Length as
  // declared, and its Content-Encoding.
  std::optional<std::uint64_t> declared_length;
  std::string content_encoding;
  bool over_limit = false;  // the body would have grown past kMaxReplyBytes
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  std::size_t n = size * count;
  if (!AppendWithinLimit(&transfer->response.body, std::string_view(data, n), kMaxReplyBytes)) {
    transfer->over_limit = true;
    return 0;  // aborts the transfer
  }
  return n;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// The value of `line` when it is the header `lower_name` ("content-length:"), matched without case.
std::optional<std::string_view> HeaderValue(std::string_view line, std::string_view lower_name) {
  if (line.size() < lower_name.size()) return std::nullopt;
  for (std::size_t i = 0; i < lower_name.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) != lower_name[i]) return std::nullopt;
  }
  return Trim(line.substr(lower_name.size()));
}

// Keeps the reason phrase of the last status line (the final one after redirects), and the
// length and encoding the response declares.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto* transfer = static_cast<Transfer*>(user);
  std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    transfer->response.body.clear();  // a redirect's body is not the reply's
    transfer->declared_length.reset();
    transfer->content_encoding.clear();
    std::size_t first = line.find(' ');
    std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    std::string reason;
    if (second != std::string_view::npos) reason = std::string(line.substr(second + 1));
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n')) reason.pop_back();
    transfer->response.reason = reason;
  } else if (auto length = HeaderValue(line, "content-length:")) {
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(length->data(), length->data() + length->size(), value);
    if (ec == std::errc::result_out_of_range) value = std::numeric_limits<std::uint64_t>::max();
    if (ec != std::errc::invalid_argument && end == length->data() + length->size()) {
      transfer->declared_length = value;
    }
  } else if (auto encoding = HeaderValue(line, "content-encoding:")) {
    transfer->content_encoding = std::string(*encoding);
  }
  return size * count;
}

// What went past the cap, for DescribeOversizedReply.
std::string DescribeExcess(CURL* h, CURLcode rc, const Transfer& transfer, bool decoding) {
  const std::string limit = std::to_string(kMaxReplyBytes);
  if (rc == CURLE_FILESIZE_EXCEEDED && transfer.declared_length &&
      *transfer.declared_length > kMaxReplyBytes) {
    return "its declared length is " + std::to_string(*transfer.declared_length) +
           " bytes; it was not read";
  }
  curl_off_t received = 0;
  curl_easy_getinfo(h, CURLINFO_SIZE_DOWNLOAD_T, &received);
  std::string encoding = transfer.content_encoding;
  for (char& c : encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // With decoding on, curl hands over the decoded bytes: the cap was reached by decoding.
  if (decoding && !encoding.empty() && encoding != "identity") {
    return "its " + encoding + " data decodes to more than " + limit + " bytes after " +
           std::to_string(received) + " bytes arrived; the rest was not read";
  }
  return "more than " + limit + " bytes arrived; the rest was not read";
}

}  // namespace

HttpResponse SendHttpRequest(const HttpRequest& request) {
  SharedState& shared = Shared();
  std::unique_ptr<CURL, EasyDeleter> easy(shared.TakeEasy());
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
  transfer.response.body.reserve(std::min(request.body_size_hint, kMaxReplyBytes));
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
  curl_easy_setopt(h, CURLOPT_BUFFERSIZE, 8192L);  // the reply is read in pieces of 8 KB
  // A declared length over the cap fails before the body is read; the write callback holds the
  // cap for replies without one and for decoded bytes.
  curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxReplyBytes));
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
  if (transfer.over_limit || rc == CURLE_FILESIZE_EXCEEDED) {
    throw HttpFailure(
        DescribeOversizedReply(request, DescribeExcess(h, rc, transfer, request.decode_content)),
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
