#include "common/failure.h"

#include <string_view>
#include <utility>

namespace k5_mkview {

namespace {

// Keeps the trace free of the build machine's folders: "store/cache.cc", not "/home/.../src/store/cache.cc".
std::string_view SourceName(std::string_view file) {
  for (std::string_view root : {"/src/", "\\src\\"}) {
    if (auto at = file.rfind(root); at != std::string_view::npos) {
      return file.substr(at + root.size());
    }
  }
  return file;
}

}  // namespace

Failure::Failure(std::string message, std::source_location where)
    : message_(std::move(message)) {
  trace_ = "at ";
  trace_ += where.function_name();
  trace_ += " (";
  trace_ += SourceName(where.file_name());
  trace_ += ":";
  trace_ += std::to_string(where.line());
  trace_ += ")";
}

}  // namespace k5_mkview
