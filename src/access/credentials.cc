#include "access/credentials.h"

#include "access/code_exchange.h"
#include "access/environments.h"
#include "access/library_location.h"
#include "access/token_file.h"

namespace k5_mkview {

void Credentials::InitCreds(const std::string& server, const double& open, int magic, int exp) {
  // IEEE comparison gives the rule wanted: -0.0 equals 0.0, and a NaN equals nothing.
  if (open == 0.0 && magic == 0 && exp == 0) {
    InitializeCredentials(server);
    return;
  }
  CodeExchange::InitializeCredentials(server, CodeExchange::AssembleCode(open, magic, exp));
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
