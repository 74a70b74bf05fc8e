#include "common/mutex.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace k5_mkview {
namespace {

// Unguarded, the read and the write below lose updates between threads within a few thousand
// rounds; under the lock every one counts (and a lock that is never released hangs here).
TEST(MutexTest, ExcludesConcurrentReadModifyWrite) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 50000;
  Mutex mutex;
  volatile long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        MutexLock lock(mutex);
        long value = counter;
        counter = value + 1;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, static_cast<long>(kThreads) * kRounds);
}

}  // namespace
}  // namespace k5_mkview
