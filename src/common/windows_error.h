#ifndef K5_MKVIEW_COMMON_WINDOWS_ERROR_H_
#define K5_MKVIEW_COMMON_WINDOWS_ERROR_H_

#include <string>

namespace k5_mkview {

// For the Windows platform files only. The description of the Windows error `code` as UTF-8,
// without its trailing line break, spaces and full stop: from the message table of the loaded
// module `module_name` (such as L"winhttp.dll", whose codes the system's table lacks) when given
// and known there, else from the system's. Empty when neither knows the code. Never throws.
std::string WindowsErrorDescription(unsigned long code, const wchar_t* module_name = nullptr);

}  // namespace k5_mkview

#endif  // K5_MKVIEW_COMMON_WINDOWS_ERROR_H_
