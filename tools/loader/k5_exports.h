#ifndef K5_MKVIEW_TOOLS_LOADER_K5_EXPORTS_H_
#define K5_MKVIEW_TOOLS_LOADER_K5_EXPORTS_H_

#include <filesystem>
#include <memory>

#include "exports/k5_mkview.h"
#include "loader/library_loader.h"

namespace k5_loader {

// The twelve exports of one loaded copy of the library, typed exactly as declared (calling
// convention included), resolved by name with the loader.
struct K5Exports {
  decltype(&::OrderBook_Free) OrderBook_Free = nullptr;
  decltype(&::PositionBook_Free) PositionBook_Free = nullptr;
  decltype(&::InitCreds) InitCreds = nullptr;
  decltype(&::InitTimeZoneInfo) InitTimeZoneInfo = nullptr;
  decltype(&::OrderBook) OrderBook = nullptr;
  decltype(&::PositionBook) PositionBook = nullptr;
  decltype(&::OrderBook_Sz) OrderBook_Sz = nullptr;
  decltype(&::PositionBook_Sz) PositionBook_Sz = nullptr;
  decltype(&::OrderBook_BookData) OrderBook_BookData = nullptr;
  decltype(&::PositionBook_BookData) PositionBook_BookData = nullptr;
  decltype(&::OrderBook_MetaData) OrderBook_MetaData = nullptr;
  decltype(&::PositionBook_MetaData) PositionBook_MetaData = nullptr;

  std::unique_ptr<LoadedLibrary> library;  // keeps the copy loaded
};

// Loads the library at `path` and resolves all twelve names. On failure returns false and fills
// *failure: the loader's code and message, or code 0 and "exports not found: <names>" when the
// library loaded without some of them (it is then unloaded again).
bool LoadExports(const std::filesystem::path& path, K5Exports* out, LoadFailure* failure);

}  // namespace k5_loader

#endif  // K5_MKVIEW_TOOLS_LOADER_K5_EXPORTS_H_
