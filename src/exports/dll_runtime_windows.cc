// The DLL's share of the statically linked C++ runtime, made to leave nothing behind when a
// terminal unloads the library. GCC 12's runtime keeps per-load state that nothing releases at
// FreeLibrary: the exception emergency pool (about 20 KB in the 32-bit DLL, 74 KB in the 64-bit
// one), a TLS index and per-thread blocks for the exception globals (emulated TLS), and a
// semaphore for the lock behind function-local statics. Each load/unload cycle would leak them.
// This file supplies the two C++ ABI pieces that hold such state (exception globals, static
// guards) on SRW locks and one TLS index it frees itself, and hands the pool back at unload.

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdlib>

namespace __gnu_cxx {
void __freeres() noexcept;  // libstdc++: frees the exception emergency pool
}

namespace {

// The C++ ABI's per-thread exception state (__cxa_eh_globals), with links for the list of all
// blocks so the unload can free the blocks of threads that are still running.
struct ExceptionGlobals {
  void* caught_exceptions;
  unsigned int uncaught_exceptions;
  ExceptionGlobals* prev;
  ExceptionGlobals* next;
};

// Taken on first use: static constructors run before DllMain sees the load, and one may throw.
INIT_ONCE globals_index_once = INIT_ONCE_STATIC_INIT;
DWORD globals_index = TLS_OUT_OF_INDEXES;  // written once, under globals_index_once
SRWLOCK globals_lock = SRWLOCK_INIT;
ExceptionGlobals* all_globals = nullptr;  // GUARDED_BY(globals_lock)

void Unlink(ExceptionGlobals* block) {
  AcquireSRWLockExclusive(&globals_lock);
  if (block->prev != nullptr) {
    block->prev->next = block->next;
  } else {
    all_globals = block->next;
  }
  if (block->next != nullptr) block->next->prev = block->prev;
  ReleaseSRWLockExclusive(&globals_lock);
}

// One lock and one condition for all function-local statics: initialisations are rare and short,
// and both are plain words, so nothing needs releasing.
SRWLOCK guard_lock = SRWLOCK_INIT;
CONDITION_VARIABLE guard_done = CONDITION_VARIABLE_INIT;

// The generic C++ ABI's guard: byte 0 is set once the object is initialised (the compiler's
// inline check reads it); byte 1 marks an initialisation in progress.
struct GuardBytes {
  volatile unsigned char* bytes;
  explicit GuardBytes(std::int64_t* guard) : bytes(reinterpret_cast<unsigned char*>(guard)) {}
  bool done() const { return __atomic_load_n(&bytes[0], __ATOMIC_ACQUIRE) != 0; }
};

BOOL CALLBACK AllocateGlobalsIndex(INIT_ONCE*, void*, void**) {
  globals_index = TlsAlloc();
  return globals_index != TLS_OUT_OF_INDEXES;
}

}  // namespace

extern "C" {

void* __cxa_get_globals() noexcept {
  if (!InitOnceExecuteOnce(&globals_index_once, AllocateGlobalsIndex, nullptr, nullptr)) {
    std::abort();  // no TLS index left in the process: exceptions cannot work
  }
  auto* block = static_cast<ExceptionGlobals*>(TlsGetValue(globals_index));
  if (block != nullptr) return block;
  // Not operator new: this runs while an exception is being thrown, bad_alloc included.
  block = static_cast<ExceptionGlobals*>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExceptionGlobals)));
  if (block == nullptr) std::abort();
  AcquireSRWLockExclusive(&globals_lock);
  block->next = all_globals;
  if (all_globals != nullptr) all_globals->prev = block;
  all_globals = block;
  ReleaseSRWLockExclusive(&globals_lock);
  TlsSetValue(globals_index, block);
  return block;
}

// Callers of the fast variant dereference its result, so it allocates too.
void* __cxa_get_globals_fast() noexcept { return __cxa_get_globals(); }

int __cxa_guard_acquire(std::int64_t* guard) {
  GuardBytes g(guard);
  if (g.done()) return 0;
  AcquireSRWLockExclusive(&guard_lock);
  for (;;) {
    if (g.bytes[0] != 0) break;
    if (g.bytes[1] == 0) {
      g.bytes[1] = 1;
      ReleaseSRWLockExclusive(&guard_lock);
      return 1;  // the caller initialises, then calls release (or abort if it throws)
    }
    SleepConditionVariableSRW(&guard_done, &guard_lock, INFINITE, 0);
  }
  ReleaseSRWLockExclusive(&guard_lock);
  return 0;
}

void __cxa_guard_release(std::int64_t* guard) noexcept {
  GuardBytes g(guard);
  AcquireSRWLockExclusive(&guard_lock);
  g.bytes[1] = 0;
  __atomic_store_n(&g.bytes[0], 1, __ATOMIC_RELEASE);
  ReleaseSRWLockExclusive(&guard_lock);
  WakeAllConditionVariable(&guard_done);
}

void __cxa_guard_abort(std::int64_t* guard) noexcept {
  GuardBytes g(guard);
  AcquireSRWLockExclusive(&guard_lock);
  g.bytes[1] = 0;
  ReleaseSRWLockExclusive(&guard_lock);
  WakeAllConditionVariable(&guard_done);
}

// Runs under the loader lock: only TLS slots, heap blocks and an SRW lock that no code holds
// across a wait. Nothing here loads a library, waits for a thread or touches the network.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_THREAD_DETACH:
      if (globals_index == TLS_OUT_OF_INDEXES) break;
      if (auto* block = static_cast<ExceptionGlobals*>(TlsGetValue(globals_index))) {
        Unlink(block);
        HeapFree(GetProcessHeap(), 0, block);
      }
      break;
    case DLL_PROCESS_DETACH:
      // At process exit (reserved != null) other threads are gone mid-flight and the system
      // reclaims everything: touch nothing. At FreeLibrary give back what this load took.
      if (reserved == nullptr) {
        while (ExceptionGlobals* block = all_globals) {
          Unlink(block);
          HeapFree(GetProcessHeap(), 0, block);
        }
        if (globals_index != TLS_OUT_OF_INDEXES) TlsFree(globals_index);
        __gnu_cxx::__freeres();
      }
      break;
    default:
      break;
  }
  return TRUE;
}

}  // extern "C"
