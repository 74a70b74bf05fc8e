#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "common/windows_error.h"

#include <iterator>

#include "common/utf.h"

namespace k5_mkview {

std::string WindowsErrorDescription(unsigned long code, const wchar_t* module_name) {
  wchar_t text[1024];
  DWORD n = 0;
  constexpr DWORD kFlags = FORMAT_MESSAGE_IGNORE_INSERTS;
  if (module_name != nullptr) {
    if (HMODULE module = GetModuleHandleW(module_name); module != nullptr) {
      n = FormatMessageW(kFlags | FORMAT_MESSAGE_FROM_HMODULE, module, code, 0, text,
                         static_cast<DWORD>(std::size(text)), nullptr);
    }
  }
  if (n == 0) {
    n = FormatMessageW(kFlags | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text,
                       static_cast<DWORD>(std::size(text)), nullptr);
  }
  while (n > 0 && (text[n - 1] == L'\r' || text[n - 1] == L'\n' || text[n - 1] == L' ' ||
                   text[n - 1] == L'.')) {
    --n;
  }
  try {
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text), n));
  } catch (...) {
    return {};  // a garbled text (or no memory) must not hide the code the caller reports
  }
}

}  // namespace k5_mkview
