#include <dlfcn.h>

#include <string>
#include <system_error>

#include "access/library_location.h"
#include "common/failure.h"

namespace k5_mkview {

std::filesystem::path LibraryDirectory() {
  // Any address inside this module names the module; the loader knows its file.
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&LibraryDirectory), &info) == 0 || info.dli_fname == nullptr ||
      info.dli_fname[0] == '\0') {
    throw Failure("Cannot find the library's own file: dladdr knows no module at its address");
  }
  // The loader keeps the path as the host program gave it, which may be relative to the working
  // folder of that moment.
  std::error_code error;
  std::filesystem::path file = std::filesystem::absolute(info.dli_fname, error);
  if (error) {
    throw Failure(std::string("Cannot make the library's path ") + info.dli_fname +
                  " absolute: " + error.message());
  }
  return file.parent_path();
}

}  // namespace k5_mkview
