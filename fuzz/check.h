#pragma once
#include <cstdlib>

// A failed check aborts: libFuzzer keeps the input as a finding, the replay test fails.
inline void check(bool condition) {
  if (!condition) std::abort();
}
