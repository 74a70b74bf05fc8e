// Drives a copy of the built library through its exports, as a terminal program does, against
// the benchmark's server (the deployment must point there), and prints one JSON object per run:
//
//   fetch <instrument> <requests> <threads>   OrderBook + OrderBook_Free, `requests` times, on
//                                             `threads` threads: ms and page faults per request
//   store <instrument> <books>                keeps `books` order books stored: heap bytes per
//                                             bucket
//   cpu <reply file> <instrument> <rounds>    mapping (the core, built with the library's flags),
//                                             _BookData on a fetched book, std::from_chars over
//                                             the same texts, in turns: the least microseconds of
//                                             each (for comparing compiler flags of the Windows
//                                             builds)
//
// The library is the one beside this program; the copy gets a token file of its own.

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "access/token_file.h"
#include "books/book_reply.h"
#include "loader/k5_exports.h"
#include "loader/library_loader.h"
#include "process_figures.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "k5_fetch_bench: %s\n", message.c_str());
  std::exit(1);
}

std::u16string U16(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Narrow(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) out += unit < 0x80 ? static_cast<char>(unit) : '?';
  return out;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The server's token: K5_BENCH_TOKEN, else one that the benchmark's nginx does not check.
std::string Token() {
  const char* token = std::getenv("K5_BENCH_TOKEN");
  return token != nullptr ? token : "bench-token";
}

// A private copy of the library with a token file beside it, initialised for the Practice
// environment; removed again when done.
class Library {
 public:
  Library() {
    std::random_device random;
    do {
      folder_ = fs::temp_directory_path() / ("k5-bench-" + std::to_string(random()));
    } while (!fs::create_directory(folder_));
    fs::path source = k5_loader::ExecutableDir() / k5_loader::LibraryFileName();
    fs::copy_file(source, folder_ / k5_loader::LibraryFileName());
    std::ofstream(folder_ / k5_mkview::TokenFile::kFileName, std::ios::binary)
        << k5_mkview::TokenFile::encrypt(Token()) << "\n";
    k5_loader::LoadFailure failure;
    if (!k5_loader::LoadExports(folder_ / k5_loader::LibraryFileName(), &k5_, &failure)) {
      Fail("cannot load the library: " + failure.message);
    }
    std::u16string err(1000, u' ');
    k5_.InitTimeZoneInfo(0, err.data());
    k5_.InitCreds(u"TERVIK-k5 Practice-2", 0, 0, 0, err.data());
    if (err.c_str()[0] != u'\0') Fail("InitCreds: " + Narrow(err.c_str()));
  }
  ~Library() {
    k5_.library.reset();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  const k5_loader::K5Exports& k5() const { return k5_; }

  int Fetch(const std::u16string& instrument) const {
    std::u16string err(512, u' ');
    int handle = k5_.OrderBook(instrument.c_str(), 0, err.data());
    if (handle < 1) Fail("OrderBook: " + Narrow(err.c_str()));
    return handle;
  }
  void Free(int handle) const {
    std::u16string err(512, u' ');
    k5_.OrderBook_Free(handle, err.data());
  }

 private:
  fs::path folder_;
  k5_loader::K5Exports k5_;
};

void RunFetch(const std::u16string& instrument, int requests, int threads) {
  Library lib;
  for (int i = 0; i < 3; ++i) lib.Free(lib.Fetch(instrument));  // connections and heap warm
  k5_bench::ProcessFigures before = k5_bench::ReadProcessFigures();
  Clock::time_point start = Clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&lib, &instrument, requests, threads, t] {
      for (int i = t; i < requests; i += threads) lib.Free(lib.Fetch(instrument));
    });
  }
  for (std::thread& w : workers) w.join();
  double ms = Ms(Clock::now() - start);
  k5_bench::ProcessFigures after = k5_bench::ReadProcessFigures();
  std::printf(
      "{\"ms_per_request\": %.4f, \"faults_per_request\": %.2f, \"requests\": %d, "
      "\"threads\": %d}\n",
      ms / requests, static_cast<double>(after.minor_faults - before.minor_faults) / requests,
      requests, threads);
}

void RunStore(const std::u16string& instrument, int books) {
  Library lib;
  lib.Free(lib.Fetch(instrument));  // connection, TLS session and curl's own state made first
  lib.Free(lib.Fetch(instrument));
  k5_bench::ProcessFigures before = k5_bench::ReadProcessFigures();
  std::vector<int> handles;
  for (int i = 0; i < books; ++i) handles.push_back(lib.Fetch(instrument));
  k5_bench::ProcessFigures after = k5_bench::ReadProcessFigures();
  std::u16string err(512, u' ');
  long long buckets = static_cast<long long>(lib.k5().OrderBook_Sz(handles[0], err.data())) * books;
  for (int handle : handles) lib.Free(handle);
  std::printf("{\"bytes_per_bucket\": %.2f, \"buckets\": %lld}\n",
              static_cast<double>(after.heap_bytes - before.heap_bytes) / buckets, buckets);
}

void RunCpu(const std::string& file, const std::u16string& instrument, int rounds) {
  std::ifstream in(file, std::ios::binary);
  std::string reply((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (reply.empty()) Fail("cannot read " + file);

  Library lib;
  int handle = lib.Fetch(instrument);
  std::u16string err(512, u' ');
  int n = lib.k5().OrderBook_Sz(handle, err.data());
  std::vector<double> shorts(n), longs(n), prices(n);

  std::string copy = reply;
  auto envelope = k5_mkview::ReadBookEnvelopeInPlace(copy, "orderBook");
  const k5_mkview::Book& book = *envelope->book;
  std::vector<std::string_view> texts;
  for (const k5_mkview::Bucket& b : *book.buckets) {
    for (k5_mkview::TextRef ref : {b.shortCountPercent, b.longCountPercent, b.price}) {
      texts.push_back(*book.Text(ref));
    }
  }
  std::vector<double> values(texts.size());

  // The three in turns, each round; the least time of each: other work only makes them slower.
  double map_ms = 1e300, data_ms = 1e300, chars_ms = 1e300;
  std::string body;
  for (int i = 0; i < rounds; ++i) {
    body = reply;
    Clock::time_point t0 = Clock::now();
    auto mapped = k5_mkview::ReadBookEnvelopeInPlace(body, "orderBook");
    Clock::time_point t1 = Clock::now();
    if (!mapped || !mapped->book) Fail("no book in " + file);
    mapped.reset();
    Clock::time_point t2 = Clock::now();
    lib.k5().OrderBook_BookData(handle, shorts.data(), longs.data(), prices.data(), n, err.data());
    Clock::time_point t3 = Clock::now();
    for (std::size_t j = 0; j < texts.size(); ++j) {
      std::from_chars(texts[j].data(), texts[j].data() + texts[j].size(), values[j]);
    }
    Clock::time_point t4 = Clock::now();
    map_ms = std::min(map_ms, Ms(t1 - t0));
    data_ms = std::min(data_ms, Ms(t3 - t2));
    chars_ms = std::min(chars_ms, Ms(t4 - t3));
  }
  if (values.back() != prices.back()) Fail("_BookData and from_chars disagree");
  lib.Free(handle);
  std::printf("{\"map_us\": %.1f, \"bookdata_us\": %.1f, \"from_chars_us\": %.1f}\n", map_ms * 1000,
              data_ms * 1000, chars_ms * 1000);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "fetch") {
    RunFetch(U16(args[1]), std::atoi(args[2].c_str()), std::atoi(args[3].c_str()));
  } else if (args.size() == 3 && args[0] == "store") {
    RunStore(U16(args[1]), std::atoi(args[2].c_str()));
  } else if (args.size() == 4 && args[0] == "cpu") {
    RunCpu(args[1], U16(args[2]), std::atoi(args[3].c_str()));
  } else {
    std::fprintf(stderr,
                 "usage: k5_fetch_bench fetch <instrument> <requests> <threads>\n"
                 "       k5_fetch_bench store <instrument> <books>\n"
                 "       k5_fetch_bench cpu <reply file> <instrument> <rounds>\n");
    return 2;
  }
  return 0;
}
