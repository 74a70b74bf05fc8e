#ifndef K5_MKVIEW_FUZZ_FUZZ_CHECK_H_
#define K5_MKVIEW_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

// A broken property stops the run with the condition and its place; libFuzzer then saves the
// input as a crash. Unlike assert it stays on in optimised builds.
#define K5_FUZZ_CHECK(condition)                                                            \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (false)

#endif  // K5_MKVIEW_FUZZ_FUZZ_CHECK_H_
