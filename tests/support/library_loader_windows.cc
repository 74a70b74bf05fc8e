#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "support/library_loader.h"

namespace k5test {
namespace {

class WindowsLibrary : public LoadedLibrary {
 public:
  explicit WindowsLibrary(HMODULE module) : module_(module) {}
  ~WindowsLibrary() override { FreeLibrary(module_); }
  void* Symbol(const char* name) const override {
    return reinterpret_cast<void*>(GetProcAddress(module_, name));
  }

 private:
  HMODULE module_;
};

}  // namespace

std::unique_ptr<LoadedLibrary> LoadLibraryAt(const std::filesystem::path& path, std::string* error) {
  HMODULE module = LoadLibraryW(path.wstring().c_str());
  if (module == nullptr) {
    *error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
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

}  // namespace k5test
