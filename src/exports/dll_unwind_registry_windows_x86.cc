// 32-bit DLL only. Exceptions there unwind with DWARF tables that the DLL registers with libgcc's
// unwinder at load and deregisters at unload. GCC 12's registry guards its list with a lock whose
// semaphore it creates at the first registration and never closes, so every load/unload cycle
// would leave one semaphore handle behind. The link wraps the two registry calls
// (-Wl,--wrap, src/CMakeLists.txt) and routes this DLL's CreateSemaphoreW through CreateSemaphore
// so the semaphore made during registration is known and closed once deregistration is over, when
// nothing can take that lock again.

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

namespace {

// Both run under the loader lock, on the thread that loads or unloads the DLL; no other code of
// the DLL runs before registration ends or after deregistration starts.
bool registering = false;
HANDLE registry_semaphore = nullptr;

HANDLE WINAPI CreateSemaphoreRecorded(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum,
                                      LPCWSTR name) {
  // CreateSemaphoreW's handle carries SEMAPHORE_ALL_ACCESS too.
  HANDLE semaphore =
      CreateSemaphoreExW(attributes, initial, maximum, name, 0, SEMAPHORE_ALL_ACCESS);
  if (registering && registry_semaphore == nullptr) registry_semaphore = semaphore;
  return semaphore;
}

}  // namespace

extern "C" {

// The import slot that the runtime's code calls CreateSemaphoreW through, defined here so the
// linker takes this one instead of kernel32's.
extern void* const create_semaphore_import __asm__("__imp__CreateSemaphoreW@16");
void* const create_semaphore_import = reinterpret_cast<void*>(&CreateSemaphoreRecorded);

void __real___register_frame_info(const void* begin, void* object);
void* __real___deregister_frame_info(const void* begin);

void __wrap___register_frame_info(const void* begin, void* object) {
  registering = true;
  __real___register_frame_info(begin, object);
  registering = false;
}

void* __wrap___deregister_frame_info(const void* begin) {
  void* object = __real___deregister_frame_info(begin);
  if (registry_semaphore != nullptr) {
    CloseHandle(registry_semaphore);
    registry_semaphore = nullptr;
  }
  return object;
}

}  // extern "C"
