// The fuzz targets' own assertion: a broken property ends the run like a crash does, so that
// libFuzzer keeps the input (assert() is gone in optimised builds).
#pragma once

#include <cstdlib>

inline void Check(bool condition) {
    if (!condition) std::abort();
}
