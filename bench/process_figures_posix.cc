// glibc: getrusage for the faults, mallinfo2 for the heap (arena blocks in use plus mmapped ones).

#include <malloc.h>
#include <sys/resource.h>

#include "process_figures.h"

namespace k5_bench {

ProcessFigures ReadProcessFigures() {
  ProcessFigures figures;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  figures.minor_faults = static_cast<std::uint64_t>(usage.ru_minflt);
  struct mallinfo2 info = mallinfo2();
  figures.heap_bytes = info.uordblks + info.hblkhd;
  return figures;
}

}  // namespace k5_bench
