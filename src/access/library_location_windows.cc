#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "access/library_location.h"
#include "common/failure.h"
#include "common/windows_error.h"

namespace k5_mkview {
namespace {

// The text of a system error code, with the code, in UTF-8.
std::string SystemMessage(DWORD code) {
  std::string message = WindowsErrorDescription(code);
  return message + (message.empty() ? "" : " ") + "(error " + std::to_string(code) + ")";
}

}  // namespace

std::filesystem::path LibraryDirectory() {
  // The module that holds this function is the DLL, not the host program. The handle is not
  // counted, so there is nothing to release.
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&LibraryDirectory), &module)) {
    throw Failure("Cannot find the library's own module: GetModuleHandleExW failed: " +
                  SystemMessage(GetLastError()));
  }
  // Long paths exceed MAX_PATH; the name is cut to the buffer when it is too small, so grow it
  // until the whole name fits (a path has at most 32767 units).
  std::wstring name(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
    if (n == 0) {
      throw Failure("Cannot find the library's own file: GetModuleFileNameW failed: " +
                    SystemMessage(GetLastError()));
    }
    if (n < name.size()) {
      name.resize(n);
      break;
    }
    if (name.size() > 32768) {
      throw Failure("Cannot find the library's own file: its path is longer than 32767 units");
    }
    name.resize(name.size() * 2);
  }
  return std::filesystem::path(name).parent_path();
}

}  // namespace k5_mkview
