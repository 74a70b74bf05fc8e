#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>
#include <vector>

#include "common/windows_error.h"
#include "loader/library_loader.h"

namespace k5_loader {
namespace {

class WindowsLibrary : public LoadedLibrary {
 public:
  explicit WindowsLibrary(HMODULE module) : module_(module) {}
  ~WindowsLibrary() override { FreeLibrary(module_); }
  WindowsLibrary(const WindowsLibrary&) = delete;
  WindowsLibrary& operator=(const WindowsLibrary&) = delete;
  void* Symbol(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

std::string PathText(const std::filesystem::path& path) {
  std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::unique_ptr<LoadedLibrary> LoadLibraryAt(const std::filesystem::path& path,
                                             LoadFailure* failure) {
  HMODULE module = LoadLibraryW(path.wstring().c_str());
  if (module == nullptr) {
    DWORD code = GetLastError();
    failure->code = code;
    failure->message =
        "LoadLibraryW(" + PathText(path) + ") failed with error " + std::to_string(code);
    std::string text = k5_mkview::WindowsErrorDescription(code);
    // Some texts name the file as an insert ("%1 is not a valid Win32 application").
    if (std::size_t at = text.find("%1"); at != std::string::npos) {
      text.replace(at, 2, PathText(path.filename()));
    }
    if (!text.empty()) failure->message += " (" + text + ")";
    return nullptr;
  }
  return std::make_unique<WindowsLibrary>(module);
}

std::filesystem::path ExecutableDir() {
  std::wstring buffer(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  buffer.resize(n);
  return std::filesystem::path(buffer).parent_path();
}

const char* LibraryFileName() { return "k5-mkview.dll"; }

std::optional<std::string> FileVersion(const std::filesystem::path& path) {
  std::wstring name = path.wstring();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(name.c_str(), &ignored);
  if (size == 0) return std::nullopt;
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(name.c_str(), 0, size, data.data())) return std::nullopt;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
      fixed == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::nullopt;
  }
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionLS));
}

}  // namespace k5_loader
