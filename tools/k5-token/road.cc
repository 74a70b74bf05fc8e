#include "road.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "access/token_file.h"
#include "common/utf.h"
#include "diagnosis.h"
#include "loader/k5_exports.h"
#include "loader/library_loader.h"

namespace k5_token {
namespace {

using k5_loader::K5Exports;
using k5_mkview::TokenFile;

// Roomy enough for an error reply's body followed by the library's own line, which the
// classification reads.
constexpr std::size_t kErrCapacity = 4096;
// Buckets shown on each side of the one nearest the price.
constexpr int kBucketsAroundPrice = 3;

// A caller's err buffer: content length on entry is the capacity, so it is refilled with spaces
// before every call (a call that succeeds hands it back empty).
class ErrBuffer {
 public:
  char16_t* Fresh() {
    buffer_.assign(kErrCapacity, u' ');
    return buffer_.data();
  }
  // What the call left, as UTF-8. A text cut at the capacity may end in half a surrogate pair;
  // the user still gets the rest.
  std::string Text() const {
    std::u16string text = buffer_.c_str();
    for (std::size_t i = 0; i < text.size(); ++i) {
      bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
      bool low = text[i] >= 0xDC00 && text[i] <= 0xDFFF;
      if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        ++i;
      } else if (high || low) {
        text[i] = u'\uFFFD';
      }
    }
    return k5_mkview::Utf16ToUtf8(text, "err");
  }

 private:
  std::u16string buffer_;
};

struct RoadOptions {
  std::string server;
  std::string instrument;
  std::int32_t time = 0;
  std::int32_t gmt_offset = 2;
};

std::optional<std::int32_t> ParseInt(const std::string& text) {
  std::int32_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Returns false, having said why on standard error, when the command line is not a road.
bool ParseRoad(const std::vector<std::string>& args, RoadOptions* options) {
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--time" || args[i] == "--gmt-offset") {
      std::optional<std::int32_t> value;
      if (i + 1 < args.size()) value = ParseInt(args[i + 1]);
      if (!value) {
        std::cerr << "k5-token road: " << args[i] << " needs a whole number\n";
        return false;
      }
      (args[i] == "--time" ? options->time : options->gmt_offset) = *value;
      ++i;
    } else if (args[i].starts_with("--")) {
      std::cerr << "k5-token road: unknown option " << args[i] << "\n";
      return false;
    } else {
      positional.push_back(args[i]);
    }
  }
  if (positional.size() != 2) {
    std::cerr << "k5-token road: expected <trading-server-name> <instrument> [--time <mt4Time>] "
                 "[--gmt-offset <n>]\n";
    return false;
  }
  options->server = positional[0];
  options->instrument = positional[1];
  return true;
}

// Shortest text that reads back as the same double, without an exponent, in the C locale.
std::string Number(double value) {
  char text[400];
  auto [end, error] = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (error != std::errc()) return "?";
  return std::string(text, end);
}

// Reports the failed step with the library's exact err text and returns its exit code.
int StepFailed(const std::string& step, const std::string& err) {
  Diagnosis diagnosis = Diagnose(err);
  std::cout << step << " failed; err:\n" << err << "\n";
  std::cout << "hint: " << diagnosis.hint << "\n";
  std::cout << "road failed (exit code " << diagnosis.exit_code << ")\n";
  return diagnosis.exit_code;
}

int LoadFailed(const std::filesystem::path& library, const k5_loader::LoadFailure& failure) {
  std::cout << "cannot load the library: " << failure.message << "\n";
  if (failure.code != 0) {
    std::cout << "error " << failure.code << ": " << ExplainLoadError(failure.code) << "\n";
  }
  std::cout << "hint: put the " << sizeof(void*) * 8 << "-bit " << library.filename().string()
            << " of this package beside this program, as in the terminal's libraries folder\n";
  std::cout << "road failed (exit code " << kLibraryNotLoaded << ")\n";
  return kLibraryNotLoaded;
}

void PrintSummary(const std::string& instrument, const std::string& time, double price,
                  double width, const std::vector<double>& shorts, const std::vector<double>& longs,
                  const std::vector<double>& prices) {
  std::cout << "book: " << instrument << " at " << time << ", price " << Number(price)
            << ", bucket width " << Number(width) << ", " << prices.size() << " buckets\n";
  if (prices.empty()) return;
  std::size_t nearest = 0;
  for (std::size_t i = 1; i < prices.size(); ++i) {
    if (std::fabs(prices[i] - price) < std::fabs(prices[nearest] - price)) nearest = i;
  }
  std::size_t first = nearest > kBucketsAroundPrice ? nearest - kBucketsAroundPrice : 0;
  std::size_t last = std::min(prices.size() - 1, nearest + kBucketsAroundPrice);
  std::cout << "    bucket  price  short%  long%\n";
  for (std::size_t i = first; i <= last; ++i) {
    std::cout << (i == nearest ? "  > " : "    ") << i << "  " << Number(prices[i]) << "  "
              << Number(shorts[i]) << "  " << Number(longs[i]) << "\n";
  }
}

}  // namespace

int Road(const std::vector<std::string>& args) {
  RoadOptions options;
  if (!ParseRoad(args, &options)) return kUsage;
  // Each step is out before the next call: if the library takes the process down, the last line
  // says where.
  std::cout << std::unitbuf;

  // The terminal loads the library from its libraries folder; the package puts this program there.
  std::filesystem::path folder = k5_loader::ExecutableDir();
  std::filesystem::path library = folder / k5_loader::LibraryFileName();
  std::cout << "library: " << TokenFile::PathText(library) << "\n";
  std::error_code ignored;
  if (!std::filesystem::is_regular_file(library, ignored)) {
    // Windows says 126 ("a module was not found") for a missing file as for a missing
    // dependency; saying which one it is saves the user a wrong search.
    return LoadFailed(library, {0, "there is no " + library.filename().string() + " in " +
                                       TokenFile::PathText(folder)});
  }
  if (std::optional<std::string> version = k5_loader::FileVersion(library)) {
    std::cout << "file version: " << *version << "\n";
  }
  K5Exports lib;
  k5_loader::LoadFailure failure;
  if (!k5_loader::LoadExports(library, &lib, &failure)) return LoadFailed(library, failure);
  std::cout << "loaded, twelve exports found\n";

  ErrBuffer err;
  std::string step = "InitTimeZoneInfo(" + std::to_string(options.gmt_offset) + ")";
  lib.InitTimeZoneInfo(options.gmt_offset, err.Fresh());
  if (std::string text = err.Text(); !text.empty()) return StepFailed(step, text);
  std::cout << step << ": ok\n";

  std::cout << "token file: " << TokenFile::PathText(folder / TokenFile::kFileName) << "\n";
  step = "InitCreds(\"" + options.server + "\", 0, 0, 0)";
  std::u16string server = k5_mkview::Utf8ToUtf16(options.server);
  lib.InitCreds(server.c_str(), 0.0, 0, 0, err.Fresh());
  if (std::string text = err.Text(); !text.empty()) return StepFailed(step, text);
  std::cout << step << ": ok\n";

  step = "OrderBook(\"" + options.instrument + "\", " + std::to_string(options.time) + ")";
  std::u16string instrument = k5_mkview::Utf8ToUtf16(options.instrument);
  int handle = lib.OrderBook(instrument.c_str(), options.time, err.Fresh());
  if (handle < 1) return StepFailed(step, err.Text());
  std::cout << step << ": handle " << handle << "\n";

  step = "OrderBook_Sz(" + std::to_string(handle) + ")";
  int size = lib.OrderBook_Sz(handle, err.Fresh());
  if (size < 0) return StepFailed(step, err.Text());
  std::cout << step << ": " << size << " buckets\n";

  std::vector<double> shorts(size), longs(size), prices(size);
  step = "OrderBook_BookData(" + std::to_string(handle) + ", " + std::to_string(size) + ")";
  lib.OrderBook_BookData(handle, shorts.data(), longs.data(), prices.data(), size, err.Fresh());
  if (std::string text = err.Text(); !text.empty()) return StepFailed(step, text);
  std::cout << step << ": ok\n";

  double width = 0, price = 0;
  std::u16string time(64, u' '), book_instrument(64, u' ');
  step = "OrderBook_MetaData(" + std::to_string(handle) + ", 1)";
  lib.OrderBook_MetaData(handle, &width, &price, 1, time.data(), book_instrument.data(),
                         err.Fresh());
  if (std::string text = err.Text(); !text.empty()) return StepFailed(step, text);
  std::cout << step << ": ok\n";
  PrintSummary(k5_mkview::Utf16ToUtf8(std::u16string_view(book_instrument.c_str())),
               k5_mkview::Utf16ToUtf8(std::u16string_view(time.c_str())), price, width, shorts,
               longs, prices);

  step = "OrderBook_Free(" + std::to_string(handle) + ")";
  lib.OrderBook_Free(handle, err.Fresh());
  if (std::string text = err.Text(); !text.empty()) return StepFailed(step, text);
  std::cout << step << ": ok\n";
  std::cout << "road ok\n";
  return kSuccess;
}

}  // namespace k5_token
