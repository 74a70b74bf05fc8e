#include "access/credentials.h"

#include "access/environments.h"
#include "access/library_location.h"
#include "access/token_file.h"
#include "common/failure.h"

namespace k5_mkview {

void Credentials::InitCreds(const std::string& server, double open, int magic, int exp) {
  // IEEE comparison gives the rule wanted: -0.0 equals 0.0, and a NaN equals nothing.
  if (open == 0.0 && magic == 0 && exp == 0) {
    InitializeCredentials(server);
    return;
  }
  Environments::ServerEnvironment(server);
  throw Failure(
      "InitCreds: the authorization-code exchange is not available in this build; pass 0, 0, 0 "
      "to read the token file");
}

std::string Credentials::InitializeCredentials(const std::string& server) {
  // Not InitializeFromTokenFolder(server, LibraryDirectory()): an unknown name must fail before
  // anything about files is looked up.
  Environment env = Environments::ServerEnvironment(server);
  std::string token = ReadLocalCode();
  Environments::Activate(env, token);
  return token;
}

std::string Credentials::InitializeFromTokenFolder(const std::string& server,
                                                   const std::filesystem::path& folder) {
  Environment env = Environments::ServerEnvironment(server);
  std::string token = ReadLocalCode(folder);
  Environments::Activate(env, token);
  return token;
}

std::string Credentials::ReadLocalCode() { return ReadLocalCode(LibraryDirectory()); }

std::string Credentials::ReadLocalCode(const std::filesystem::path& folder) {
  return TokenFile::decrypt(TokenFile::ReadText(folder / TokenFile::kFileName));
}

}  // namespace k5_mkview
