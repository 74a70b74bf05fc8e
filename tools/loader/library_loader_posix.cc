#include <dlfcn.h>

#include "loader/library_loader.h"

namespace k5_loader {
namespace {

class PosixLibrary : public LoadedLibrary {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { dlclose(handle_); }
  PosixLibrary(const PosixLibrary&) = delete;
  PosixLibrary& operator=(const PosixLibrary&) = delete;
  void* Symbol(const char* name) const override { return dlsym(handle_, name); }

 private:
  void* handle_;
};

}  // namespace

std::unique_ptr<LoadedLibrary> LoadLibraryAt(const std::filesystem::path& path,
                                             LoadFailure* failure) {
  // The library keeps process-wide state (its HTTP client and open connections) and tears nothing
  // down when unloaded; copies stay mapped after dlclose, so what they hold stays reachable
  // instead of showing up as leaks of every test that loads a fresh copy.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    const char* text = dlerror();
    failure->code = 0;
    failure->message = text != nullptr ? text : "dlopen failed";
    return nullptr;
  }
  return std::make_unique<PosixLibrary>(handle);
}

std::filesystem::path ExecutableDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

const char* LibraryFileName() { return "libk5-mkview.so"; }

// ELF shared objects carry no version resource.
std::optional<std::string> FileVersion(const std::filesystem::path&) { return std::nullopt; }

}  // namespace k5_loader
