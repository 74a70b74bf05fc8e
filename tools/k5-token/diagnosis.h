#ifndef K5_MKVIEW_TOOLS_K5_TOKEN_DIAGNOSIS_H_
#define K5_MKVIEW_TOOLS_K5_TOKEN_DIAGNOSIS_H_

#include <string>
#include <string_view>

namespace k5_token {

// The exit codes of k5-token. Support scripts and the package test rely on the numbers.
enum ExitCode : int {
  kSuccess = 0,
  kFailed = 1,            // any failure without a code of its own
  kUsage = 2,             // the command line is wrong
  kLibraryNotLoaded = 3,  // the library is missing, of the wrong bitness or lacks a dependency
  kTokenFile = 4,         // the token file is missing or does not decode
  kUnreachable = 5,       // the service gave no reply at all
  kTokenRefused = 6,      // the service answered HTTP 401
  kUnknownServer = 7,     // the library does not know the trading-server name
};

// What a failed step means: the exit code and one line that tells the user what to do.
struct Diagnosis {
  int exit_code = kFailed;
  std::string hint;
};

// Classifies the text a library call left in its err buffer, from the prefixes the library
// composes: "Unrecognized Server: ", "File does not exist: ", "The token file is not valid
// Base64: ", an error reply's last line "HTTP <status> <reason> from <method> <url>", and a request
// without a reply ("<method> <url> failed (<step>): WinHTTP error <n> (...)" on Windows,
// "<method> <url> failed: curl error <n> (...): ..." natively). Anything else is kFailed.
Diagnosis Diagnose(std::string_view err);

// What the Windows error `code` of a failed LoadLibraryW means for a library file that exists.
std::string ExplainLoadError(unsigned long code);

}  // namespace k5_token

#endif  // K5_MKVIEW_TOOLS_K5_TOKEN_DIAGNOSIS_H_
