#ifndef K5_MKVIEW_ACCESS_CREDENTIALS_H_
#define K5_MKVIEW_ACCESS_CREDENTIALS_H_

#include <filesystem>
#include <string>

namespace k5_mkview {

// The work of the export InitCreds: finding the access token and making the trading server's
// environment the active one (Environments). Every failure leaves the active record and all
// tokens as they were.
class Credentials {
 public:
  // With open 0.0 (either sign), magic 0 and exp 0: InitializeCredentials(server). Otherwise (a
  // NaN open counts as non-zero) the authorization-code exchange:
  // CodeExchange::InitializeCredentials(server, CodeExchange::AssembleCode(open, magic, exp)).
  // `open` is taken by reference so that its bits reach the code as the caller passed them.
  static void InitCreds(const std::string& server, const double& open, int magic, int exp);

  // Initialisation from the token file beside the library: checks the server name (Failure
  // "Unrecognized Server: " + server, before any file is touched), reads the token with
  // ReadLocalCode, then activates the server's environment with it. Returns the token.
  static std::string InitializeCredentials(const std::string& server);

  // InitializeCredentials with the token file looked for in `folder` instead.
  static std::string InitializeFromTokenFolder(const std::string& server,
                                               const std::filesystem::path& folder);

  // The token in "tervik_token.txt" in the library's folder, or in `folder`: TokenFile::ReadText
  // then TokenFile::decrypt, with their failures.
  static std::string ReadLocalCode();
  static std::string ReadLocalCode(const std::filesystem::path& folder);
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_ACCESS_CREDENTIALS_H_
