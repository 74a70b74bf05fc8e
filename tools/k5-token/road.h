#ifndef K5_MKVIEW_TOOLS_K5_TOKEN_ROAD_H_
#define K5_MKVIEW_TOOLS_K5_TOKEN_ROAD_H_

#include <string>
#include <vector>

namespace k5_token {

// `k5-token road <trading-server-name> <instrument> [--time <mt4Time>] [--gmt-offset <n>]`, with
// the arguments after "road". Loads the library beside this program as the terminal does and
// walks a terminal program's road through its exports (InitTimeZoneInfo, InitCreds from the token
// file, OrderBook, _Sz, _BookData, _MetaData, _Free), printing each step to standard output and,
// at the first failure, the library's exact err text and a hint. Never prints the token. Returns
// an ExitCode of diagnosis.h.
int Road(const std::vector<std::string>& args);

}  // namespace k5_token

#endif  // K5_MKVIEW_TOOLS_K5_TOKEN_ROAD_H_
