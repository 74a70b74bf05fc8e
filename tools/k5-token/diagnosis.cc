#include "diagnosis.h"

#include <charconv>
#include <optional>

namespace k5_token {
namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The decimal number at the start of `text`, if there is one.
std::optional<long> LeadingNumber(std::string_view text) {
  long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data()) return std::nullopt;
  return value;
}

// The number after `marker` in `line`, if the marker is there.
std::optional<long> NumberAfter(std::string_view line, std::string_view marker) {
  std::size_t at = line.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  return LeadingNumber(line.substr(at + marker.size()));
}

// The status of an error reply. The library writes the reply's body first and its own line last,
// so the body (which may hold anything, "HTTP 401" included) cannot be mistaken for it.
std::optional<long> ErrorReplyStatus(std::string_view err) {
  std::size_t at = err.rfind("\nHTTP ");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view line = err.substr(at + 1);
  if (line.find('\n') != std::string_view::npos || line.find(" from ") == std::string_view::npos) {
    return std::nullopt;
  }
  std::optional<long> status = LeadingNumber(line.substr(5));
  if (!status || *status < 100 || *status > 999) return std::nullopt;
  return status;
}

std::string WinHttpHint(long code) {
  switch (code) {
    case 12007:
      return "the service's host name was not found: check the internet connection and the DNS "
             "settings";
    case 12029:
      return "no connection to the service could be made: a firewall, an antivirus or a proxy may "
             "block the terminal";
    case 12030:
    case 12152:
      return "the connection was closed before a reply came: a proxy or security software may cut "
             "it; try again";
    case 12002:
      return "the service did not answer in time: check the connection and try again";
    case 12157:
    case 12175:
      return "the secure (TLS) connection failed: the system may lack TLS 1.2 or its root "
             "certificates, or a program inspects HTTPS traffic";
    default:
      return "the service could not be reached: check the internet connection, firewall and proxy";
  }
}

std::string CurlHint(long code) {
  switch (code) {
    case 6:
      return "the service's host name was not found: check the internet connection and the DNS "
             "settings";
    case 7:
      return "no connection to the service could be made: a firewall or proxy may block it";
    case 28:
      return "the service did not answer in time: check the connection and try again";
    case 52:
    case 56:
      return "the connection was closed before a reply came: a proxy or security software may cut "
             "it; try again";
    case 35:
    case 60:
      return "the secure (TLS) connection failed: check the system's CA certificates, or a "
             "program inspects HTTPS traffic";
    default:
      return "the service could not be reached: check the internet connection, firewall and proxy";
  }
}

}  // namespace

Diagnosis Diagnose(std::string_view err) {
  std::string_view first_line = err.substr(0, err.find('\n'));
  if (StartsWith(err, "Unrecognized Server: ")) {
    return {kUnknownServer,
            "the library does not know this trading-server name: give it exactly as the terminal "
            "shows it (AccountInfoString(ACCOUNT_SERVER)), spaces and case included"};
  }
  if (StartsWith(err, "File does not exist: ") ||
      (StartsWith(err, "Cannot read ") && first_line.find("tervik_token.txt") != first_line.npos)) {
    return {kTokenFile,
            "write the token file into the library's folder: k5-token write <folder> <token>"};
  }
  if (StartsWith(err, "The token file is not valid Base64: ")) {
    return {kTokenFile,
            "the token file is damaged or was not written by k5-token: write it again with "
            "k5-token write <folder> <token>"};
  }
  if (std::optional<long> status = ErrorReplyStatus(err)) {
    if (*status == 401) {
      return {kTokenRefused,
              "the service refused the access token: it is wrong, revoked or for another "
              "environment (practice or live); write a valid one with k5-token write"};
    }
    if (*status == 404) {
      return {kFailed,
              "the service knows no such book: check the instrument's name (EURUSD or EUR_USD) "
              "and the time"};
    }
    if (*status >= 500) {
      return {kFailed, "the service has a problem of its own: try again later"};
    }
    return {kFailed, "the service turned the request down: see its reply above"};
  }
  // Without a reply the library names the request ("GET https://...") and the platform's code.
  if (first_line.find(" failed (") != first_line.npos) {
    if (std::optional<long> code = NumberAfter(first_line, "WinHTTP error ")) {
      return {kUnreachable, WinHttpHint(*code)};
    }
  }
  if (std::optional<long> code = NumberAfter(first_line, " failed: curl error ")) {
    return {kUnreachable, CurlHint(*code)};
  }
  return {kFailed, "see the library's message above"};
}

std::string ExplainLoadError(unsigned long code) {
  switch (code) {
    case 2:
    case 3:
      return "the file or its folder was not found";
    case 5:
      return "access is denied: security software or the file's permissions block it";
    case 126:
      return "a DLL that the library needs is missing (the library file itself is there)";
    case 193:
      return "the library is of the wrong bitness for this program (a 64-bit DLL beside a 32-bit "
             "program or the other way round), or not a DLL at all";
    case 1114:
      return "the library's start-up code failed";
    default:
      return "see the system's message above";
  }
}

}  // namespace k5_token
