#pragma once
#include <cstdio>
#include <cstdlib>

// An invariant of the code under test. A broken one ends the run through
// abort(), which libFuzzer reports as a crash and saves the input for.
#define FUZZ_CHECK(cond)                                                          \
  do {                                                                            \
    if (!(cond)) {                                                                \
      fprintf(stderr, "%s:%d: fuzz check failed: %s\n", __FILE__, __LINE__, #cond); \
      abort();                                                                    \
    }                                                                             \
  } while (0)
