#ifndef K5_MKVIEW_TOOLS_LOADER_LIBRARY_LOADER_H_
#define K5_MKVIEW_TOOLS_LOADER_LIBRARY_LOADER_H_

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace k5_loader {

// A library loaded at run time the way the terminal loads it: by full path (LoadLibraryW on
// Windows, dlopen natively), symbols looked up by name. Unloaded when destroyed.
class LoadedLibrary {
 public:
  virtual ~LoadedLibrary() = default;
  // The address of the export `name`, or null.
  virtual void* Symbol(const char* name) const = 0;
};

// Why a library did not load.
struct LoadFailure {
  // The Windows error code of LoadLibraryW (GetLastError()); 0 natively, where dlopen has none.
  unsigned long code = 0;
  // "LoadLibraryW(<path>) failed with error 193 (<the system's text>)", or dlerror()'s text.
  std::string message;
};

// Loads the library at `path`; on failure returns null and fills *failure.
std::unique_ptr<LoadedLibrary> LoadLibraryAt(const std::filesystem::path& path,
                                             LoadFailure* failure);

// The folder of the running program.
std::filesystem::path ExecutableDir();

// The file name of the library on this platform.
const char* LibraryFileName();

// The file version of the file at `path` from its version resource, as "1.2.3.4"; nullopt when
// the file has none or the platform has no such resource (natively).
std::optional<std::string> FileVersion(const std::filesystem::path& path);

}  // namespace k5_loader

#endif  // K5_MKVIEW_TOOLS_LOADER_LIBRARY_LOADER_H_
