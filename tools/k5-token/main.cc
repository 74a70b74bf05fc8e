// k5-token: the library only reads its token file, so this program writes one, and checks one the
// way the library will read it. Both use the library's own code and the key compiled in from the
// same deployment, so a file that `check` accepts is one the library of this build accepts.
// `road` is for support: it loads the library beside it and walks a terminal program's road.

#include <cstddef>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "access/credentials.h"
#include "access/token_file.h"
#include "command_line.h"
#include "common/failure.h"
#include "diagnosis.h"
#include "k5_version.h"
#include "road.h"

namespace k5_token {
namespace {

using k5_mkview::Credentials;
using k5_mkview::Failure;
using k5_mkview::TokenFile;

// A subcommand: its name, its arguments as the help shows them, what it does, and the work, which
// gets the arguments after the name.
struct Command {
  const char* name;
  const char* arguments;
  const char* summary;
  int (*run)(const std::vector<std::string>& args);
};

int Help(const std::vector<std::string>& args);
int Write(const std::vector<std::string>& args);
int Check(const std::vector<std::string>& args);
int RoadCommand(const std::vector<std::string>& args);

constexpr Command kCommands[] = {
    {"write", "<folder> <token>",
     "writes <folder>/tervik_token.txt holding <token> (UTF-8) for this build's deployment; an "
     "existing file is replaced",
     Write},
    {"check", "<folder> [--show]",
     "reads <folder>/tervik_token.txt as the library does and says whether it decodes and how long "
     "the token is; --show prints the token too",
     Check},
    {"road", "<trading-server-name> <instrument> [--time <mt4Time>] [--gmt-offset <n>]",
     "loads the library beside this program as the terminal does and walks a terminal program's "
     "road: InitTimeZoneInfo(<n>, default 2), InitCreds(<trading-server-name>, 0, 0, 0) with the "
     "token file beside the library, OrderBook(<instrument>, <mt4Time>, default 0 = the latest), "
     "_Sz, _BookData, _MetaData, _Free; prints each step, the library's exact err text where one "
     "fails and a hint. Never prints the token",
     RoadCommand},
    {"help", "", "shows this text", Help},
};

void PrintVersion(std::ostream& out) {
  out << "k5-token " << k5_mkview::version::kVersion << " (deployment "
      << k5_mkview::version::kDeploymentName << ")\n";
}

void PrintUsage(std::ostream& out) {
  PrintVersion(out);
  out << "usage: k5-token <command> [arguments]\n\n"
         "The library reads its access token from tervik_token.txt in the folder that holds the\n"
         "library file. Commands:\n";
  for (const Command& command : kCommands) {
    out << "  " << command.name << " " << command.arguments << "\n      " << command.summary
        << "\n";
  }
  out << "\nExit codes:\n"
         "  0 success\n"
         "  1 any other failure\n"
         "  2 usage error\n"
         "  3 (road) the library cannot be loaded: missing, wrong bitness or a missing dependency\n"
         "  4 (road) the token file is missing or does not decode\n"
         "  5 (road) the service cannot be reached: no reply at all\n"
         "  6 (road) the service refused the token (HTTP 401)\n"
         "  7 (road) the trading-server name is not recognised\n";
}

// Arguments are UTF-8; on Windows the path must be built from them as such, not as ANSI text.
std::filesystem::path PathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

int Help(const std::vector<std::string>&) {
  PrintUsage(std::cout);
  return 0;
}

int Write(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::cerr << "k5-token write: expected <folder> <token>\n";
    return kUsage;
  }
  std::filesystem::path folder = PathFromUtf8(args[0]);
  std::error_code error;
  if (!std::filesystem::is_directory(folder, error)) {
    std::cerr << "k5-token write: " << args[0] << " is not a folder\n";
    return kFailed;
  }
  std::filesystem::path file = folder / TokenFile::kFileName;
  // A trailing line break, as an editor would leave it; the reader skips it.
  std::string content = TokenFile::encrypt(args[1]) + "\n";
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) {
    std::cerr << "k5-token write: cannot write " << TokenFile::PathText(file) << "\n";
    return kFailed;
  }
  std::cout << "wrote " << TokenFile::PathText(file) << " (a token of " << args[1].size()
            << " bytes)\n";
  return 0;
}

int Check(const std::vector<std::string>& args) {
  bool show = args.size() == 2 && args[1] == "--show";
  if (args.empty() || args.size() > 2 || (args.size() == 2 && !show)) {
    std::cerr << "k5-token check: expected <folder> [--show]\n";
    return kUsage;
  }
  std::filesystem::path folder = PathFromUtf8(args[0]);
  std::string path = TokenFile::PathText(folder / TokenFile::kFileName);
  std::string token;
  try {
    token = Credentials::ReadLocalCode(folder);
  } catch (const Failure& e) {
    std::cerr << "k5-token check: " << e.message() << "\n";
    return kFailed;
  }
  if (token.empty()) {
    std::cout << path << ": decodes to the empty token (requests would carry \"Bearer \" alone)\n";
  } else {
    std::cout << path << ": decodes to a token of " << token.size() << " bytes\n";
  }
  // Bytes that are not UTF-8 after unmasking read as U+FFFD; many of them point to a file
  // written for another deployment's key.
  std::size_t replaced = 0;
  for (std::size_t at = token.find("\xEF\xBF\xBD"); at != std::string::npos;
       at = token.find("\xEF\xBF\xBD", at + 3)) {
    ++replaced;
  }
  if (replaced > 0) {
    std::cout << "warning: " << replaced
              << " replacement characters (U+FFFD) in the token: was the file written with "
                 "another deployment's key?\n";
  }
  if (show) std::cout << "token: " << token << "\n";
  return 0;
}

int RoadCommand(const std::vector<std::string>& args) {
  PrintVersion(std::cout);
  return Road(args);
}

int Main(int argc, char** argv) {
  UseUtf8Console();
  std::vector<std::string> args = Utf8Arguments(argc, argv);
  if (args.size() < 2) {
    PrintUsage(std::cerr);
    return kUsage;
  }
  for (const Command& command : kCommands) {
    if (args[1] == command.name) {
      return command.run(std::vector<std::string>(args.begin() + 2, args.end()));
    }
  }
  std::cerr << "k5-token: unknown command \"" << args[1] << "\"\n";
  PrintUsage(std::cerr);
  return kUsage;
}

}  // namespace
}  // namespace k5_token

int main(int argc, char** argv) {
  try {
    return k5_token::Main(argc, argv);
  } catch (const k5_mkview::Failure& e) {
    std::cerr << "k5-token: " << e.message() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "k5-token: " << e.what() << "\n";
  }
  return k5_token::kFailed;
}
