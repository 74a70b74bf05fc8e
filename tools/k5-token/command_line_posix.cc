#include "command_line.h"

namespace k5_token {

// The arguments are bytes, which on the systems this builds for are UTF-8 already.
std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void UseUtf8Console() {}

}  // namespace k5_token
