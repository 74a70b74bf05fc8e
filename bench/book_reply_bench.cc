// Mapping a book reply onto the model: the work done once per OrderBook/PositionBook call after
// the body arrived. Reports bytes per second for replies of a few to 10,000 buckets.

#include <benchmark/benchmark.h>

#include <string>

#include "books/book_reply.h"

namespace {

std::string Reply(int buckets) {
  std::string body = R"({"orderBook":{"instrument":"EUR_USD","time":"2019-12-23T15:00:00Z",)"
                     R"("unixTime":"1577113200","price":"1.10250","bucketWidth":"0.00050","buckets":[)";
  for (int i = 0; i < buckets; ++i) {
    if (i > 0) body += ',';
    body += R"({"price":")" + std::to_string(1.0 + i * 0.0005) +
            R"(","longCountPercent":"0.0123","shortCountPercent":"0.0456"})";
  }
  body += "]}}";
  return body;
}

void BM_ReadBookEnvelope(benchmark::State& state) {
  const std::string body = Reply(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto envelope = k5_mkview::ReadBookEnvelope(body, "orderBook");
    benchmark::DoNotOptimize(envelope);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(body.size()));
}
BENCHMARK(BM_ReadBookEnvelope)->Arg(10)->Arg(500)->Arg(10000);

}  // namespace

BENCHMARK_MAIN();
