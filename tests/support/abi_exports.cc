#include "support/abi_exports.h"

#include <gtest/gtest.h>

namespace k5test {
namespace {

template <typename Fn>
void Resolve(const LoadedLibrary& library, const char* name, Fn* slot, std::string* missing) {
  *slot = reinterpret_cast<Fn>(library.Symbol(name));
  if (*slot == nullptr) *missing += std::string(missing->empty() ? "" : ", ") + name;
}

}  // namespace

bool LoadExports(const std::filesystem::path& path, K5Exports* out, std::string* error) {
  out->library = LoadLibraryAt(path, error);
  if (!out->library) return false;
  std::string missing;
  const LoadedLibrary& lib = *out->library;
  Resolve(lib, "OrderBook_Free", &out->OrderBook_Free, &missing);
  Resolve(lib, "PositionBook_Free", &out->PositionBook_Free, &missing);
  Resolve(lib, "InitCreds", &out->InitCreds, &missing);
  Resolve(lib, "InitTimeZoneInfo", &out->InitTimeZoneInfo, &missing);
  Resolve(lib, "OrderBook", &out->OrderBook, &missing);
  Resolve(lib, "PositionBook", &out->PositionBook, &missing);
  Resolve(lib, "OrderBook_Sz", &out->OrderBook_Sz, &missing);
  Resolve(lib, "PositionBook_Sz", &out->PositionBook_Sz, &missing);
  Resolve(lib, "OrderBook_BookData", &out->OrderBook_BookData, &missing);
  Resolve(lib, "PositionBook_BookData", &out->PositionBook_BookData, &missing);
  Resolve(lib, "OrderBook_MetaData", &out->OrderBook_MetaData, &missing);
  Resolve(lib, "PositionBook_MetaData", &out->PositionBook_MetaData, &missing);
  if (!missing.empty()) {
    *error = "exports not found: " + missing;
    return false;
  }
  return true;
}

const K5Exports& Exports() {
  static K5Exports* exports = [] {
    auto* loaded = new K5Exports;
    std::string error;
    std::filesystem::path path = ExecutableDir() / LibraryFileName();
    if (!LoadExports(path, loaded, &error)) {
      ADD_FAILURE() << "cannot load " << path.string() << ": " << error;
    }
    return loaded;
  }();
  return *exports;
}

}  // namespace k5test
