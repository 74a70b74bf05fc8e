// Windows: the process's page-fault count, and the blocks in use on the C runtime's heap (msvcrt,
// which the DLL and this program share) summed by _heapwalk.

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// psapi.h needs windows.h first.
#include <malloc.h>
#include <psapi.h>

#include "process_figures.h"

namespace k5_bench {

ProcessFigures ReadProcessFigures() {
  ProcessFigures figures;
  PROCESS_MEMORY_COUNTERS counters{};
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
    figures.minor_faults = counters.PageFaultCount;
  }
  _HEAPINFO entry{};
  entry._pentry = nullptr;
  while (_heapwalk(&entry) == _HEAPOK) {
    if (entry._useflag == _USEDENTRY) figures.heap_bytes += entry._size;
  }
  return figures;
}

}  // namespace k5_bench
