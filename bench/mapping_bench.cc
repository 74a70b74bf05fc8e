// The work after a reply arrived and the queries a terminal makes on a stored book, against
// reference points measured in the same run:
//   - mapping a reply onto the book model, against simdjson's on-demand API filling the same
//     model (the same text block and bucket references, the same size hints);
//   - _BookData through the export, against std::from_chars over the same texts;
//   - _Sz and _MetaData through the exports, with a 512-unit err buffer and without one.
// The replies are files made by the sandbox (`k5_sandbox.py book orderBook SIZE_<n>`), found in
// the folder K5_BENCH_DATA names as orderBook-<n>.json.

#include <benchmark/benchmark.h>
#include <simdjson.h>
#include <time.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "books/book_reply.h"
#include "exports/k5_mkview.h"
#include "net/json_reader.h"
#include "store/cache.h"

namespace {

using k5_mkview::Book;
using k5_mkview::Bucket;
using k5_mkview::TextRef;

const std::string& Reply(std::int64_t buckets) {
  static std::vector<std::pair<std::int64_t, std::unique_ptr<std::string>>> cache;
  for (const auto& [n, text] : cache) {
    if (n == buckets) return *text;
  }
  const char* dir = std::getenv("K5_BENCH_DATA");
  std::string path =
      std::string(dir != nullptr ? dir : ".") + "/orderBook-" + std::to_string(buckets) + ".json";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s (set K5_BENCH_DATA)\n", path.c_str());
    std::exit(2);
  }
  auto text = std::make_unique<std::string>(std::istreambuf_iterator<char>(in),
                                            std::istreambuf_iterator<char>());
  cache.emplace_back(buckets, std::move(text));
  return *cache.back().second;
}

void BM_MapK5(benchmark::State& state) {
  const std::string& reply = Reply(state.range(0));
  std::string body;
  for (auto _ : state) {
    // The fetched body is handed over to the mapper and read in place: the copy that stands in
    // for the fetch is not timed.
    state.PauseTiming();
    body = reply;
    state.ResumeTiming();
    auto envelope = k5_mkview::ReadBookEnvelopeInPlace(body, "orderBook");
    benchmark::DoNotOptimize(envelope);
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reply.size()));
}

// The same model as the library's mapper fills, with the same hints and the same trimming.
TextRef AddValue(Book& book, simdjson::ondemand::value value) {
  if (value.type() == simdjson::ondemand::json_type::string) {
    return book.AddText(std::string_view(value.get_string()));
  }
  if (value.is_null()) return TextRef{};
  return book.AddText(std::string_view(value.raw_json_token()));
}

std::shared_ptr<Book> SimdjsonMap(simdjson::ondemand::parser& parser,
                                  const simdjson::padded_string& json) {
  using k5_mkview::SameMemberName;
  auto book = std::make_shared<Book>();
  book->texts.reserve(json.size() / 4 + 64);
  simdjson::ondemand::document doc = parser.iterate(json);
  for (auto member : doc.get_object()) {
    if (!SameMemberName(member.unescaped_key().value(), "orderBook")) continue;
    for (auto field : member.value().get_object()) {
      std::string_view name = field.unescaped_key().value();
      if (SameMemberName(name, "buckets")) {
        auto& buckets = book->buckets.emplace();
        buckets.reserve(json.size() / 70 + 1);
        for (auto element : field.value().get_array()) {
          Bucket& bucket = buckets.emplace_back();
          for (auto bucket_field : element.get_object()) {
            std::string_view key = bucket_field.unescaped_key().value();
            if (SameMemberName(key, "price")) {
              bucket.price = AddValue(*book, bucket_field.value());
            } else if (SameMemberName(key, "longCountPercent")) {
              bucket.longCountPercent = AddValue(*book, bucket_field.value());
            } else if (SameMemberName(key, "shortCountPercent")) {
              bucket.shortCountPercent = AddValue(*book, bucket_field.value());
            }
          }
        }
      } else if (SameMemberName(name, "bucketWidth")) {
        book->bucketWidth = AddValue(*book, field.value());
      } else if (SameMemberName(name, "price")) {
        book->price = AddValue(*book, field.value());
      } else if (SameMemberName(name, "time")) {
        book->time = AddValue(*book, field.value());
      } else if (SameMemberName(name, "instrument")) {
        book->instrument = AddValue(*book, field.value());
      }
    }
  }
  if (book->texts.capacity() - book->texts.size() > book->texts.size() / 8 + 64) {
    book->texts.shrink_to_fit();
  }
  if (book->buckets &&
      book->buckets->capacity() - book->buckets->size() > book->buckets->size() / 8 + 4) {
    book->buckets->shrink_to_fit();
  }
  return book;
}

void BM_MapSimdjson(benchmark::State& state) {
  const std::string& reply = Reply(state.range(0));
  simdjson::padded_string json(reply);
  simdjson::ondemand::parser parser;
  for (auto _ : state) {
    auto book = SimdjsonMap(parser, json);
    benchmark::DoNotOptimize(book);
  }
  // Both must read the same book, or the comparison means nothing.
  auto mine = k5_mkview::ReadBookEnvelope(reply, "orderBook");
  auto theirs = SimdjsonMap(parser, json);
  if (!mine || !mine->book || mine->book->texts != theirs->texts ||
      mine->book->buckets->size() != theirs->buckets->size()) {
    state.SkipWithError("simdjson's model differs from the library's");
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(reply.size()));
}

BENCHMARK(BM_MapK5)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MapSimdjson)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A stored order book of `buckets` buckets, through the steps OrderBook takes after the fetch.
int StoredBook(std::int64_t buckets) {
  static std::vector<std::pair<std::int64_t, int>> handles;
  for (auto [n, handle] : handles) {
    if (n == buckets) return handle;
  }
  std::string body = Reply(buckets);
  auto envelope = k5_mkview::ReadBookEnvelopeInPlace(body, "orderBook");
  int handle = k5_mkview::Cache::addOrderBook(envelope->book);
  handles.emplace_back(buckets, handle);
  return handle;
}

double ThreadCpuMicroseconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// _BookData through the export against its floor, std::from_chars over the same 3n texts, taken
// in turns within each iteration so that both meet the same machine; the counters are the least
// thread CPU time each took in one iteration.
void BM_BookDataAndFromChars(benchmark::State& state) {
  int handle = StoredBook(state.range(0));
  int n = static_cast<int>(state.range(0));
  std::vector<double> shorts(n), longs(n), prices(n);
  std::u16string err(512, u' ');

  std::string body = Reply(state.range(0));
  auto envelope = k5_mkview::ReadBookEnvelopeInPlace(body, "orderBook");
  const Book& book = *envelope->book;
  std::vector<std::string_view> texts;
  for (const Bucket& b : *book.buckets) {
    for (TextRef ref : {b.shortCountPercent, b.longCountPercent, b.price}) {
      texts.push_back(*book.Text(ref));
    }
  }
  std::vector<double> values(texts.size());

  double best_data = 1e300, best_chars = 1e300;
  for (auto _ : state) {
    err.assign(512, u' ');
    double t0 = ThreadCpuMicroseconds();
    OrderBook_BookData(handle, shorts.data(), longs.data(), prices.data(), n, err.data());
    benchmark::DoNotOptimize(prices.data());
    double t1 = ThreadCpuMicroseconds();
    for (std::size_t i = 0; i < texts.size(); ++i) {
      std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), values[i]);
    }
    benchmark::DoNotOptimize(values.data());
    double t2 = ThreadCpuMicroseconds();
    best_data = std::min(best_data, t1 - t0);
    best_chars = std::min(best_chars, t2 - t1);
  }
  if (err.c_str()[0] != u'\0') state.SkipWithError("_BookData wrote an error");
  if (values.back() != prices.back()) state.SkipWithError("_BookData and from_chars disagree");
  state.counters["bookdata_us"] = best_data;
  state.counters["from_chars_us"] = best_chars;
}
BENCHMARK(BM_BookDataAndFromChars)->Arg(10000)->Unit(benchmark::kMicrosecond);

// _Sz with an err buffer of range(0) units (0: a null err).
void BM_Sz(benchmark::State& state) {
  int handle = StoredBook(1000);
  std::u16string err(static_cast<std::size_t>(state.range(0)), u' ');
  char16_t* err_ptr = state.range(0) > 0 ? err.data() : nullptr;
  for (auto _ : state) {
    if (err_ptr != nullptr) err[0] = u' ';  // the guard empties err; the next call gets it full
    benchmark::DoNotOptimize(OrderBook_Sz(handle, err_ptr));
  }
}
BENCHMARK(BM_Sz)->Arg(0)->Arg(512);

void BM_MetaData(benchmark::State& state) {
  int handle = StoredBook(1000);
  std::u16string err(512, u' '), time(40, u' '), instrument(40, u' ');
  double width = 0, price = 0;
  for (auto _ : state) {
    err[0] = u' ';
    time.assign(40, u' ');
    instrument.assign(40, u' ');
    OrderBook_MetaData(handle, &width, &price, 1, time.data(), instrument.data(), err.data());
    benchmark::DoNotOptimize(price);
  }
}
BENCHMARK(BM_MetaData);

}  // namespace

BENCHMARK_MAIN();
