#include "support/abi_exports.h"

#include <gtest/gtest.h>

namespace k5test {

const K5Exports& Exports() {
  static K5Exports* exports = [] {
    auto* loaded = new K5Exports;
    LoadFailure failure;
    std::filesystem::path path = ExecutableDir() / LibraryFileName();
    if (!LoadExports(path, loaded, &failure)) {
      ADD_FAILURE() << "cannot load " << path.string() << ": " << failure.message;
    }
    return loaded;
  }();
  return *exports;
}

}  // namespace k5test
