#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>
#include <string>

#include "command_line.h"
#include "common/failure.h"
#include "common/utf.h"

namespace k5_token {
namespace {

// Owns the array CommandLineToArgvW allocates.
struct LocalFreeDeleter {
  void operator()(LPWSTR* arguments) const { LocalFree(arguments); }
};

}  // namespace

std::vector<std::string> Utf8Arguments(int, char**) {
  int count = 0;
  std::unique_ptr<LPWSTR, LocalFreeDeleter> arguments(
      CommandLineToArgvW(GetCommandLineW(), &count));
  if (!arguments) {
    throw k5_mkview::Failure("CommandLineToArgvW failed (error " + std::to_string(GetLastError()) +
                             ")");
  }
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    out.push_back(k5_mkview::Utf16ToUtf8(reinterpret_cast<const char16_t*>(arguments.get()[i]),
                                         "a command-line argument"));
  }
  return out;
}

void UseUtf8Console() { SetConsoleOutputCP(CP_UTF8); }

}  // namespace k5_token
