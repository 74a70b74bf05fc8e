#ifndef K5_MKVIEW_COMMON_MUTEX_H_
#define K5_MKVIEW_COMMON_MUTEX_H_

#include <cstddef>

namespace k5_mkview {

// A lock for the library's own shared state. On Windows it is an SRW lock, which owns no kernel
// object and needs none of the C++ runtime's thread support, so loading and unloading the DLL
// leaves nothing behind; natively it is a std::mutex (which sanitizers understand). Not
// recursive. Objects with static storage may be locked only once static initialisation is over.
class Mutex {
 public:
  Mutex() noexcept;
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void Lock() noexcept;
  void Unlock() noexcept;

  // Room for the largest platform lock; each platform file checks that its lock fits.
  static constexpr std::size_t kStateSize = 64;

 private:
  alignas(alignof(std::max_align_t)) unsigned char state_[kStateSize];
};

// Holds `mutex` from construction to destruction.
class MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) noexcept : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace k5_mkview

#endif  // K5_MKVIEW_COMMON_MUTEX_H_
