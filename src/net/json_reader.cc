#include "net/json_reader.h"

namespace k5_mkview {

bool IsBlankJson(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

}  // namespace k5_mkview
