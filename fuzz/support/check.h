// Invariant checks of the fuzz targets: a failed check prints what broke and aborts, which
// libFuzzer reports as a crash with the input that caused it.
#ifndef KESTARIO_FUZZ_SUPPORT_CHECK_H_
#define KESTARIO_FUZZ_SUPPORT_CHECK_H_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

#endif  // KESTARIO_FUZZ_SUPPORT_CHECK_H_
