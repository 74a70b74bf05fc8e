#include <dlfcn.h>

#include "support/library_loader.h"

namespace k5test {
namespace {

class PosixLibrary : public LoadedLibrary {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { dlclose(handle_); }
  void* Symbol(const char* name) const override { return dlsym(handle_, name); }

 private:
  void* handle_;
};

}  // namespace

std::unique_ptr<LoadedLibrary> LoadLibraryAt(const std::filesystem::path& path, std::string* error) {
  // The library keeps process-wide state (its HTTP client and open connections) and tears nothing
  // down when unloaded; copies stay mapped after dlclose, so what they hold stays reachable
  // instead of showing up as leaks of every test that loads a fresh copy.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle == nullptr) {
    *error = dlerror();
    return nullptr;
  }
  return std::make_unique<PosixLibrary>(handle);
}

std::filesystem::path ExecutableDir() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

const char* LibraryFileName() { return "libk5-mkview.so"; }

}  // namespace k5test
