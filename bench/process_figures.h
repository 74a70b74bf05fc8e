#ifndef K5_MKVIEW_BENCH_PROCESS_FIGURES_H_
#define K5_MKVIEW_BENCH_PROCESS_FIGURES_H_

#include <cstdint>

namespace k5_bench {

// What the benchmark reads about its own process before and after a run.
struct ProcessFigures {
  std::uint64_t minor_faults = 0;  // page faults served without I/O so far
  std::uint64_t heap_bytes = 0;    // bytes allocated on the C heap now, blocks in use only
};

ProcessFigures ReadProcessFigures();

}  // namespace k5_bench

#endif  // K5_MKVIEW_BENCH_PROCESS_FIGURES_H_
