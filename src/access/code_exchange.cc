#include "access/code_exchange.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "access/environments.h"
#include "common/failure.h"
#include "common/utf.h"
#include "deployment_config.h"
#include "net/http_client.h"
#include "net/json_reader.h"

namespace k5_mkview {
namespace {

static_assert(sizeof(double) == 8 && std::numeric_limits<double>::is_iec559,
              "the code's first eight bytes are an IEEE-754 64-bit value");

// Maps SAX events onto a TokenResponse. `depth_` counts the open objects and arrays; only the
// members of the top-level object are looked at, everything below them is skipped.
class TokenResponseMapper : public JsonMapper {
 public:
  std::optional<TokenResponse> Take() { return std::move(record_); }

  bool Null() {
    if (depth_ == 1 && token_next_) record_->access_token.reset();
    token_next_ = false;
    return true;  // a null document: no record
  }
  bool Bool(bool b) { return Text(b ? "true" : "false"); }
  bool RawNumber(const char* s, rapidjson::SizeType n, bool) {
    return Text(std::string_view(s, n));
  }
  bool String(const char* s, rapidjson::SizeType n, bool) { return Text(std::string_view(s, n)); }

  bool StartObject() {
    if (depth_ == 0) {
      record_.emplace();
    } else if (depth_ == 1 && token_next_) {
      return Reject("an object where the text 'access_token' is expected");
    }
    ++depth_;
    return true;
  }
  bool Key(const char* s, rapidjson::SizeType n, bool) {
    if (depth_ == 1) token_next_ = SameMemberName(std::string_view(s, n), "access_token");
    return true;
  }
  bool EndObject(rapidjson::SizeType) {
    --depth_;
    token_next_ = false;
    return true;
  }
  bool StartArray() {
    if (depth_ == 0) return Reject("an array where the token response object is expected");
    if (depth_ == 1 && token_next_) {
      return Reject("an array where the text 'access_token' is expected");
    }
    ++depth_;
    return true;
  }
  bool EndArray(rapidjson::SizeType) {
    --depth_;
    token_next_ = false;
    return true;
  }

 private:
  bool Text(std::string_view value) {
    if (depth_ == 0) return Reject("a text or number where the token response object is expected");
    if (depth_ == 1 && token_next_) record_->access_token.emplace(value);
    token_next_ = false;
    return true;
  }

  std::optional<TokenResponse> record_;
  int depth_ = 0;
  bool token_next_ = false;  // the value that follows is the top-level object's access_token
};

}  // namespace

std::optional<TokenResponse> TokenResponse::FromJson(std::string_view text) {
  TokenResponseMapper mapper;
  if (!ReadJson(text, mapper)) return std::nullopt;
  return mapper.Take();
}

std::string CodeExchange::AssembleCode(const double& open, std::int32_t magic, std::int32_t exp) {
  // Byte by byte with shifts, so the layout is little-endian whatever the machine's order.
  std::array<unsigned char, 16> bytes{};
  auto put = [&bytes](std::size_t at, std::uint64_t value, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
    }
  };
  put(0, std::bit_cast<std::uint64_t>(open), 8);
  put(8, static_cast<std::uint32_t>(magic), 4);  // modular: the two's-complement bits
  put(12, static_cast<std::uint32_t>(exp), 4);

  constexpr char kDigits[] = "0123456789abcdef";
  std::string code;
  code.reserve(2 * bytes.size());
  for (unsigned char byte : bytes) {
    code += kDigits[byte >> 4];
    code += kDigits[byte & 0x0F];
  }
  return code;
}

std::string CodeExchange::InitializeCredentials(const std::string& server,
                                               const std::string& code) {
  Environment env = Environments::ServerEnvironment(server);
  std::string token = ExchangeCode(server, code);
  Environments::Activate(env, token);
  return token;
}

std::string CodeExchange::ExchangeCode(const std::string& server, const std::string& code) {
  Environment env = Environments::ServerEnvironment(server);
  AccessDetails details = Environments::Details(env);
  // Dev servers present certificates that cannot be verified. By design the switch is
  // process-wide and one-way: it is set before anything is sent and outlives a failed exchange.
  if (env == Environment::Dev) AcceptAnyServerCertificate();

  std::string url = details.Host + std::string(kTokenPath);
  FormParams params{{"client_id", details.ClientId},
                    {"client_secret", details.ClientSecret},
                    {"grant_type", "authorization_code"},
                    {"code", code},
                    {"redirect_uri", std::string(deployment::kRedirectUri)}};
  return TokenOf(MakeRequest<TokenResponse>(url, "POST", params), url);
}

std::string CodeExchange::TokenOf(std::optional<TokenResponse> reply, const std::string& url) {
  if (!reply) {
    // Named by method and URL only: the form body carries the client secret and the code.
    throw Failure("POST " + url +
                  ": the token endpoint's reply holds no token response (its body is empty or "
                  "null), so no access token was obtained");
  }
  // Activating the environment without a token would report success and then fail every book
  // request with the service's authorization error; the caller should hear it here instead.
  if (!reply->access_token) throw Failure("the token endpoint's reply holds no access_token");
  return std::move(*reply->access_token);
}

std::string CodeExchange::RequestText(const std::string& requestString, const std::string& method,
                                      const FormParams& requestBodyParams) {
  HttpRequest request;
  request.method = method;
  request.url = requestString;
  request.headers = {{"Accept", "application/json"}};
  // No encoding is announced, so the body arrives as the server sent it.
  request.decode_content = false;
  if (!requestBodyParams.empty()) request.body = CreateParamString(requestBodyParams);

  HttpResponse response = SendHttpRequest(request);
  std::string text = DecodeText(response.body);
  response.body = std::string();  // released now: the text is all that is needed
  if (response.status >= 300) throw Failure(std::move(text));
  return text;
}

std::string CodeExchange::CreateParamString(const FormParams& requestParams) {
  std::string text;
  for (const auto& [name, value] : requestParams) {
    text.append(name).append("=").append(value).append("&");
  }
  std::size_t first = text.find_first_not_of('&');
  if (first == std::string::npos) return std::string();
  std::size_t last = text.find_last_not_of('&');
  return text.substr(first, last - first + 1);
}

}  // namespace k5_mkview
