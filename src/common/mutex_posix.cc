#include <mutex>
#include <new>

#include "common/mutex.h"

namespace k5_mkview {
namespace {

std::mutex& Native(unsigned char* state) {
  return *std::launder(reinterpret_cast<std::mutex*>(state));
}

static_assert(sizeof(std::mutex) <= Mutex::kStateSize);
static_assert(alignof(std::mutex) <= alignof(std::max_align_t));

}  // namespace

Mutex::Mutex() noexcept { new (state_) std::mutex; }
Mutex::~Mutex() { Native(state_).~mutex(); }
// std::mutex::lock throws only for errors a correct program cannot meet (deadlock detected,
// resources exhausted at first use); ending the process there beats an unguarded state.
void Mutex::Lock() noexcept { Native(state_).lock(); }
void Mutex::Unlock() noexcept { Native(state_).unlock(); }

}  // namespace k5_mkview
