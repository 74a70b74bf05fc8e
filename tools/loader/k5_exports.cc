#include "loader/k5_exports.h"

#include <string>

namespace k5_loader {
namespace {

template <typename Fn>
void Resolve(const LoadedLibrary& library, const char* name, Fn* slot, std::string* missing) {
  *slot = reinterpret_cast<Fn>(library.Symbol(name));
  if (*slot == nullptr) *missing += std::string(missing->empty() ? "" : ", ") + name;
}

}  // namespace

bool LoadExports(const std::filesystem::path& path, K5Exports* out, LoadFailure* failure) {
  out->library = LoadLibraryAt(path, failure);
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
    // No half-usable table: a caller that ignores the result finds every slot's library gone.
    *out = K5Exports{};
    failure->code = 0;
    failure->message = "exports not found: " + missing;
    return false;
  }
  return true;
}

}  // namespace k5_loader
