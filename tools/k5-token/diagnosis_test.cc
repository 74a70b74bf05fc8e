#include "diagnosis.h"

#include <gtest/gtest.h>

#include <string>

namespace k5_token {
namespace {

struct Case {
  const char* name;
  const char* err;  // as the library writes it
  int exit_code;
  const char* hint_part;  // a piece of the hint, or "" for any
};

// Both platforms' shapes: the tests of one platform only ever see its own from the library.
const Case kCases[] = {
    {"UnknownServer",
     "Unrecognized Server: TERVIK-k5 Practice-9\nat Environments::ServerEnvironment "
     "(access/environments.cc:90)",
     kUnknownServer, "trading-server name"},
    {"NoTokenFile",
     "File does not exist: C:\\MT4\\MQL4\\Libraries\\tervik_token.txt\nat TokenFile::ReadText "
     "(access/token_file.cc:128)",
     kTokenFile, "k5-token write"},
    {"TokenFileUnreadable",
     "Cannot read /terminal/libraries/tervik_token.txt: Input/output error\nat ...", kTokenFile,
     "k5-token write"},
    {"TokenFileNotBase64",
     "The token file is not valid Base64: '*' at offset 3 is not in the Base64 alphabet\nat ...",
     kTokenFile, "damaged"},
    {"Refused",
     "{\"errorMessage\":\"Insufficient authorization to perform request.\"}\nHTTP 401 "
     "Unauthorized from GET https://api.example/v3/instruments/EUR_USD/orderBook",
     kTokenRefused, "refused the access token"},
    {"RefusedWithEmptyBody", "\nHTTP 401 from GET https://api.example/v3/instruments/X/orderBook",
     kTokenRefused, "refused"},
    // The body is the service's and may say anything; the library's own line comes last.
    {"BodyQuotesAnotherStatus",
     "{\"errorMessage\":\"see\\nHTTP 401 Unauthorized from GET x\"}\nHTTP 404 Not Found from GET "
     "https://api.example/v3/instruments/XX_YY/orderBook",
     kFailed, "no such book"},
    {"BodyWithRealLineBreakQuotingStatus",
     "<html>\nHTTP 401 Unauthorized from proxy\n</html>\nHTTP 503 Service Unavailable from GET "
     "https://api.example/v3/instruments/EUR_USD/orderBook",
     kFailed, "try again later"},
    {"NotFound",
     "{\"errorMessage\":\"Invalid value specified for 'instrument'\"}\nHTTP 404 Not Found from GET "
     "https://api.example/v3/instruments/FAULT_404/orderBook",
     kFailed, "no such book"},
    {"WinHttpNameNotResolved",
     "GET https://api.example/v3/instruments/EUR_USD/orderBook failed (WinHttpSendRequest): "
     "WinHTTP error 12007 (The server name or address could not be resolved)\nat ...",
     kUnreachable, "host name was not found"},
    {"WinHttpCannotConnect",
     "GET https://api.example/v3/instruments/EUR_USD/orderBook failed (WinHttpSendRequest): "
     "WinHTTP error 12029 (A connection with the server could not be established)\nat ...",
     kUnreachable, "firewall"},
    {"WinHttpTls",
     "GET https://api.example/v3/instruments/EUR_USD/orderBook failed (WinHttpSendRequest): "
     "WinHTTP error 12175\nat ...",
     kUnreachable, "TLS"},
    {"WinHttpUntrustedCertificate",
     "GET https://api.example/v3/instruments/EUR_USD/orderBook failed (WinHttpSendRequest): "
     "WinHTTP error 12157 (An error occurred in the secure channel support)\nat ...",
     kUnreachable, "TLS"},
    {"CurlRefused",
     "GET https://localhost:47844/v3/instruments/EUR_USD/orderBook failed: curl error 7 (Couldn't "
     "connect to server): Failed to connect to localhost port 47844\nat ...",
     kUnreachable, "no connection"},
    {"CurlEmptyReply",
     "GET https://localhost:47844/v3/instruments/FAULT_CLOSE/orderBook failed: curl error 52 "
     "(Server returned nothing (no headers, no data)): Empty reply from server\nat ...",
     kUnreachable, "closed before a reply"},
    // A reply came but could not be decoded: the service is reachable.
    {"UndecodableReply",
     "GET https://api.example/v3/instruments/EUR_USD/orderBook failed: the gzip data is damaged "
     "(invalid block type)\nat ...",
     kFailed, ""},
    // The known prefixes count only at the start of the text.
    {"PrefixNotAtStart", "instrument \"Unrecognized Server: x\" is too short\nat ...", kFailed, ""},
    {"NotInitialised", "mkView has not been successfully initialized\nat ...", kFailed, ""},
};

class DiagnoseTest : public ::testing::TestWithParam<Case> {};

TEST_P(DiagnoseTest, ExitCodeAndHint) {
  const Case& c = GetParam();
  Diagnosis diagnosis = Diagnose(c.err);
  EXPECT_EQ(diagnosis.exit_code, c.exit_code) << c.err;
  EXPECT_NE(diagnosis.hint.find(c.hint_part), std::string::npos) << diagnosis.hint;
  EXPECT_FALSE(diagnosis.hint.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, DiagnoseTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace k5_token
