// The HTTPS client on WinHTTP, for the Windows DLLs.

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "common/utf.h"
#include "common/windows_error.h"
#include "net/content_decoder.h"
#include "net/http_client.h"

namespace k5_mkview {
namespace {

// Owns one WinHTTP handle.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (handle_ != nullptr) WinHttpCloseHandle(handle_);
  }
  HINTERNET get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_;
};

std::wstring Wide(const std::string& text) {
  std::u16string u16 = Utf8ToUtf16(text);
  return std::wstring(u16.begin(), u16.end());
}

std::string Narrow(const wchar_t* text, std::size_t length) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), length));
}

// "WinHTTP error 12029 (A connection with the server could not be established)": WinHTTP's
// codes have their texts in winhttp.dll, not in the system's message table.
std::string DescribeError(DWORD code) {
  std::string message = WindowsErrorDescription(code, L"winhttp.dll");
  std::string result = "WinHTTP error " + std::to_string(code);
  if (!message.empty()) result += " (" + message + ")";
  return result;
}

// One session for the process: WinHTTP pools connections per session, so every request reuses
// open connections to the same server.
HINTERNET Session() {
  static HINTERNET session = [] {
    // Automatic proxy (Windows 8.1 and later) follows the user's settings, PAC scripts included;
    // where the system does not know it, the configured default proxy is used.
    HINTERNET s = WinHttpOpen(L"k5-mkview", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                              WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (s == nullptr) {
      s = WinHttpOpen(L"k5-mkview", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                      WINHTTP_NO_PROXY_BYPASS, 0);
    }
    if (s != nullptr) {
      // Older Windows versions do not enable TLS 1.2 by default; TLS 1.3 only where known.
      DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
      if (!WinHttpSetOption(s, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols))) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
        WinHttpSetOption(s, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
      }
    }
    return s;  // lives as long as the process
  }();
  return session;
}

[[noreturn]] void FailWithoutReply(const HttpRequest& request, const char* step) {
  DWORD code = GetLastError();
  throw HttpFailure(DescribeExchange(request) + " failed (" + step + "): " + DescribeError(code),
                    std::nullopt);
}

std::wstring QueryHeader(HINTERNET request, DWORD info) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return value;
}

// The value of a Content-Length header; nothing when absent or not a number (WinHTTP then
// reads to the end of the connection or by chunks, and the read loop holds the cap).
std::optional<std::uint64_t> ParseLength(const std::wstring& text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return std::nullopt;
    if (value > (std::numeric_limits<std::uint64_t>::max() - 9) / 10) {
      return std::numeric_limits<std::uint64_t>::max();  // past any cap
    }
    value = value * 10 + static_cast<std::uint64_t>(c - L'0');
  }
  return value;
}

}  // namespace

HttpResponse SendHttpRequest(const HttpRequest& request) {
  HINTERNET session = Session();
  if (session == nullptr) FailWithoutReply(request, "WinHttpOpen");

  std::wstring url = Wide(request.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    FailWithoutReply(request, "WinHttpCrackUrl");
  }
  std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) path = L"/";

  InternetHandle connection(WinHttpConnect(session, host.c_str(), parts.nPort, 0));
  if (!connection) FailWithoutReply(request, "WinHttpConnect");
  std::wstring method = Wide(request.method);
  InternetHandle handle(WinHttpOpenRequest(connection.get(), method.c_str(), path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           parts.nScheme == INTERNET_SCHEME_HTTPS
                                               ? WINHTTP_FLAG_SECURE
                                               : 0));
  if (!handle) FailWithoutReply(request, "WinHttpOpenRequest");

  if (AcceptsAnyServerCertificate()) {
    DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
    if (!WinHttpSetOption(handle.get(), WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags))) {
      FailWithoutReply(request, "WinHttpSetOption(SECURITY_FLAGS)");
    }
  }

  std::string header_text;
  for (const auto& [name, value] : request.headers) header_text += name + ": " + value + "\r\n";
  // WinHTTP cannot decode everywhere (older Windows, Wine), so the library announces the
  // encodings itself and decodes them with zlib.
  if (request.decode_content) header_text += "Accept-Encoding: gzip, deflate\r\n";
  std::wstring headers = Wide(header_text);

  const std::string empty;
  const std::string& body = request.body ? *request.body : empty;
  if (!WinHttpSendRequest(handle.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          static_cast<DWORD>(headers.size()),
                          body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0)) {
    FailWithoutReply(request, "WinHttpSendRequest");
  }
  if (!WinHttpReceiveResponse(handle.get(), nullptr)) {
    FailWithoutReply(request, "WinHttpReceiveResponse");
  }

  HttpResponse response;
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(handle.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
    FailWithoutReply(request, "WinHttpQueryHeaders(STATUS_CODE)");
  }
  response.status = static_cast<int>(status);
  std::wstring reason = QueryHeader(handle.get(), WINHTTP_QUERY_STATUS_TEXT);
  response.reason = Narrow(reason.c_str(), reason.size());
  // A declared length over the cap fails before any of the body is read. Read as text: the
  // numeric form is a DWORD and would wrap a length of 4 GiB or more.
  std::wstring length = QueryHeader(handle.get(), WINHTTP_QUERY_CONTENT_LENGTH);
  // Zero also when no length is declared, or when the status has no body whatever the header says.
  std::uint64_t declared = status == 204 || status == 304 ? 0 : ParseLength(length).value_or(0);
  if (declared > kMaxReplyBytes) {
    throw HttpFailure(
        DescribeOversizedReply(request, "its declared length is " + std::to_string(declared) +
                                            " bytes; it was not read"),
        std::nullopt);
  }
  std::wstring encoding;
  if (request.decode_content) encoding = QueryHeader(handle.get(), WINHTTP_QUERY_CONTENT_ENCODING);
  ContentDecoder decoder(Narrow(encoding.c_str(), encoding.size()), kMaxReplyBytes);
  response.body.reserve(std::min(request.body_size_hint, kMaxReplyBytes));

  std::vector<char> chunk(8192);
  std::uint64_t received = 0;  // raw bytes, before decoding
  try {
    for (;;) {
      DWORD read = 0;
      if (!WinHttpReadData(handle.get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read)) {
        FailWithoutReply(request, "WinHttpReadData");
      }
      if (read == 0) break;
      received += read;
      if (received > kMaxReplyBytes) {
        throw HttpFailure(
            DescribeOversizedReply(request, "more than " + std::to_string(kMaxReplyBytes) +
                                                " bytes arrived; the rest was not read"),
            std::nullopt);
      }
      decoder.Feed(std::string_view(chunk.data(), read), &response.body);
    }
    // WinHTTP (Wine's at least) reports a connection closed short of the declared length as
    // the end of the body; only the encodings would notice.
    if (received < declared) {
      throw HttpFailure(DescribeExchange(request) + " failed: the reply ended after " +
                            std::to_string(received) + " of the " + std::to_string(declared) +
                            " bytes its Content-Length declares",
                        std::nullopt);
    }
    decoder.Finish();
  } catch (const HttpFailure&) {
    throw;
  } catch (const DecodedBodyTooLarge& e) {
    std::string excess = e.encoding().empty()
                             ? "more than " + std::to_string(kMaxReplyBytes) + " bytes arrived"
                             : "its " + e.encoding() + " data decodes to more than " +
                                   std::to_string(kMaxReplyBytes) + " bytes after " +
                                   std::to_string(received) + " bytes arrived";
    throw HttpFailure(DescribeOversizedReply(request, excess + "; the rest was not read"),
                      std::nullopt);
  } catch (const Failure& e) {
    // The decoder's failure, named with the exchange it broke.
    throw HttpFailure(DescribeExchange(request) + " failed: " + e.message(), std::nullopt);
  }
  return response;
}

}  // namespace k5_mkview
