#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <new>

#include "common/mutex.h"

namespace k5_mkview {
namespace {

SRWLOCK* Native(unsigned char* state) { return std::launder(reinterpret_cast<SRWLOCK*>(state)); }

static_assert(sizeof(SRWLOCK) <= Mutex::kStateSize);

}  // namespace

// An SRW lock needs no clean-up: it owns no kernel object.
Mutex::Mutex() noexcept { InitializeSRWLock(new (state_) SRWLOCK); }
Mutex::~Mutex() = default;
void Mutex::Lock() noexcept { AcquireSRWLockExclusive(Native(state_)); }
void Mutex::Unlock() noexcept { ReleaseSRWLockExclusive(Native(state_)); }

}  // namespace k5_mkview
