// k5-demo: the road a terminal program takes, through the library's exports, printed readably.
// Usage: k5-demo <trading server> [gmt offset]
// The token file must lie beside the library (k5-token writes one).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "exports/k5_mkview.h"

namespace {

std::u16string U16(const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

// A caller's buffer, filled with spaces before each call: its length is its capacity.
struct Buffer {
  std::u16string units;
  char16_t* Fill(std::size_t n = 512) {
    units.assign(n, u' ');
    return units.data();
  }
  std::string Text() const { return Narrow(std::u16string(units.c_str())); }
};

bool Report(const char* what, const Buffer& err) {
  std::string text = err.Text();
  if (text.empty()) return true;
  std::printf("%s failed:\n  %s\n", what, text.c_str());
  return false;
}

std::string Bar(double percent, double scale) {
  int n = static_cast<int>(std::lround(percent * scale));
  return std::string(static_cast<std::size_t>(std::clamp(n, 0, 40)), '#');
}

// Fetches one book of `kind` and prints its metadata and the ladder around the market price.
bool ShowBook(const char* kind, const std::u16string& instrument, int bar_time) {
  bool order = std::string(kind) == "order";
  Buffer err;
  int handle = (order ? OrderBook : PositionBook)(instrument.c_str(), bar_time, err.Fill());
  if (handle < 1 || !Report(order ? "OrderBook" : "PositionBook", err)) return false;
  int n = (order ? OrderBook_Sz : PositionBook_Sz)(handle, err.Fill());
  if (n < 0 || !Report("_Sz", err)) return false;

  std::vector<double> shorts(n), longs(n), prices(n);
  (order ? OrderBook_BookData : PositionBook_BookData)(handle, shorts.data(), longs.data(),
                                                        prices.data(), n, err.Fill());
  if (!Report("_BookData", err)) return false;
  double width = 0, price = 0;
  Buffer time, name;
  (order ? OrderBook_MetaData : PositionBook_MetaData)(handle, &width, &price, 1, time.Fill(40),
                                                        name.Fill(40), err.Fill());
  if (!Report("_MetaData", err)) return false;

  std::printf("\n%s book of %s (handle %d)\n", order ? "Order" : "Position", name.Text().c_str(),
              handle);
  std::printf("  time %s   price %.5f   bucket width %.5f   %d buckets\n", time.Text().c_str(),
              price, width, n);
  // The twelve buckets nearest the market price, highest price first.
  int nearest = static_cast<int>(std::lower_bound(prices.begin(), prices.end(), price) - prices.begin());
  int first = std::max(0, nearest - 6), last = std::min(n, nearest + 6);
  double top = 0;
  for (int i = first; i < last; ++i) top = std::max({top, shorts[i], longs[i]});
  double scale = top > 0 ? 30.0 / top : 0;
  std::printf("  %10s %37s | %s\n", "price", "short %", "long %");
  for (int i = last - 1; i >= first; --i) {
    std::string s = Bar(shorts[i], scale);
    std::printf("  %10.5f %30s %6.3f | %-6.3f %-30s%s\n", prices[i], s.c_str(), shorts[i], longs[i],
                Bar(longs[i], scale).c_str(), i == nearest ? "   <- market" : "");
  }
  (order ? OrderBook_Free : PositionBook_Free)(handle, err.Fill());
  return Report("_Free", err);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: k5-demo <trading server> [gmt offset]\n");
    return 2;
  }
  std::u16string server = U16(argv[1]);
  int offset = argc > 2 ? std::atoi(argv[2]) : 2;

  Buffer err;
  InitTimeZoneInfo(offset, err.Fill());
  if (!Report("InitTimeZoneInfo", err)) return 1;
  InitCreds(server.c_str(), 0.0, 0, 0, err.Fill());
  if (!Report("InitCreds", err)) return 1;
  std::printf("Initialised for \"%s\" with the token file beside the library; server clock GMT%+d\n",
              argv[1], offset);

  // A recent bar: the last full hour, read on a server clock two hours ahead of UTC (winter).
  auto now = std::chrono::floor<std::chrono::hours>(std::chrono::system_clock::now());
  int bar_time = static_cast<int>(now.time_since_epoch().count() * 3600 + 2 * 3600);
  std::printf("Bar time %d on the server clock\n", bar_time);

  bool ok = ShowBook("order", u"EURUSD", bar_time) && ShowBook("position", u"EURUSD", bar_time);
  return ok ? 0 : 1;
}
