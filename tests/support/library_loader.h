#ifndef K5_MKVIEW_TESTS_SUPPORT_LIBRARY_LOADER_H_
#define K5_MKVIEW_TESTS_SUPPORT_LIBRARY_LOADER_H_

#include <filesystem>
#include <memory>
#include <string>

namespace k5test {

// A library loaded at run time the way the terminal loads it: by path (LoadLibraryW on Windows,
// dlopen natively), symbols looked up by name.
class LoadedLibrary {
 public:
  virtual ~LoadedLibrary() = default;
  // The address of the export `name`, or null.
  virtual void* Symbol(const char* name) const = 0;
};

// Loads the library at `path`; on failure returns null and sets *error to the loader's message.
std::unique_ptr<LoadedLibrary> LoadLibraryAt(const std::filesystem::path& path, std::string* error);

// The folder of the running test program, where the build puts the library too.
std::filesystem::path ExecutableDir();

// The file name of the library on this platform.
const char* LibraryFileName();

}  // namespace k5test

#endif  // K5_MKVIEW_TESTS_SUPPORT_LIBRARY_LOADER_H_
