#ifndef K5_MKVIEW_TESTS_SUPPORT_ABI_EXPORTS_H_
#define K5_MKVIEW_TESTS_SUPPORT_ABI_EXPORTS_H_

#include <filesystem>
#include <memory>
#include <string>

#include "exports/k5_mkview.h"
#include "support/library_loader.h"

namespace k5test {

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

// Loads the library at `path` and resolves all twelve names; on failure returns false and sets
// *error to what failed (the loader's message or the missing names).
bool LoadExports(const std::filesystem::path& path, K5Exports* out, std::string* error);

// The copy beside the test program, loaded once per process. Fails the calling test if it
// cannot be loaded.
const K5Exports& Exports();

}  // namespace k5test

#endif  // K5_MKVIEW_TESTS_SUPPORT_ABI_EXPORTS_H_
