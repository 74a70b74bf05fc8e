#ifndef K5_MKVIEW_ACCESS_CODE_EXCHANGE_H_
#define K5_MKVIEW_ACCESS_CODE_EXCHANGE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace k5_mkview {

// Form parameters as name and value, in the order they are sent.
using FormParams = std::vector<std::pair<std::string, std::string>>;

// The token endpoint's reply; only access_token is read, other members are ignored.
struct TokenResponse {
  std::optional<std::string> access_token;  // absent when the reply has no such member or null

  // Maps a JSON document onto the record (member names without regard to case). Returns nothing
  // when the document holds no value (empty, white space only) or is null. Throws Failure when it
  // is not valid JSON, is not an object, or access_token is an object or array.
  static std::optional<TokenResponse> FromJson(std::string_view text);
};

// The authorization-code way of InitCreds: the code packed into three numbers is exchanged at
// the environment's token endpoint for an access token.
class CodeExchange {
 public:
  // The 32 lower-case hexadecimal digits of 16 bytes: `open` as IEEE-754 64-bit, then `magic`
  // and `exp` as 32-bit two's complement, each little-endian. The bits of `open` are taken as
  // they are: a negative zero keeps its sign, a NaN its payload and its quiet bit. By reference:
  // on 32-bit x86 a copy of a double through the x87 unit would make a signalling NaN quiet.
  static std::string AssembleCode(const double& open, std::int32_t magic, std::int32_t exp);

  // Checks the server name (Failure "Unrecognized Server: " + server, before anything is sent),
  // obtains the token with ExchangeCode, then activates the server's environment with it and
  // returns it. Every failure leaves the active record and all tokens as they were.
  static std::string InitializeCredentials(const std::string& server, const std::string& code);

  // POSTs the environment's client credentials and `code` to its token endpoint and returns the
  // reply's access_token. For a Dev server it first turns server-certificate validation off for
  // the whole process, for good, also when the exchange then fails. Throws Failure with the
  // reply's body as the message for an error reply, Failure when a successful reply holds no
  // value, the JSON reader's Failure for a reply that is not an object, Failure (TokenOf) when its
  // object has no access_token, and HttpFailure without a reply when none was obtained.
  static std::string ExchangeCode(const std::string& server, const std::string& code);

  // The access_token of a token endpoint's successful reply to POST `url`. Throws Failure "POST "
  // + url + ": the token endpoint's reply holds no token response ..." when the reply held no
  // value, and Failure "the token endpoint's reply holds no access_token" when its object has none
  // (member missing or null). An empty text is a token like any other.
  static std::string TokenOf(std::optional<TokenResponse> reply, const std::string& url);

  // Sends `method` to `requestString` with only the header "Accept: application/json" and, when
  // requestBodyParams holds an entry, the body CreateParamString(requestBodyParams) as UTF-8;
  // nothing is decoded. Returns the body of a reply with a final status of 200 to 299 as UTF-8
  // (a byte-order mark chooses another encoding and is dropped). Throws Failure whose message is
  // exactly the body, read the same way, for a final status of 300 or above, and HttpFailure
  // without a reply when none was obtained (its message names the method and the URL only).
  static std::string RequestText(const std::string& requestString, const std::string& method,
                                 const FormParams& requestBodyParams);

  // RequestText mapped onto Record with Record::FromJson: nothing when the body holds no value.
  template <typename Record>
  static std::optional<Record> MakeRequest(const std::string& requestString,
                                           const std::string& method = "GET",
                                           const FormParams& requestBodyParams = {}) {
    return Record::FromJson(RequestText(requestString, method, requestBodyParams));
  }

  // "name=value&name=value": each parameter in order with nothing escaped, then every "&" at the
  // start and at the end removed.
  static std::string CreateParamString(const FormParams& requestParams);

  static constexpr std::string_view kTokenPath = "/v1/oauth2/access_token";
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_ACCESS_CODE_EXCHANGE_H_
