#pragma once

// Whether numbers read from a file are finite. Infinity and not-a-number
// must never reach a scene or a computation that would spread them, so every
// place that keeps or combines such numbers asks the same question here.

#include <cmath>
#include <cstddef>

namespace kestrav {

inline bool isFiniteValue(float value) { return std::isfinite(value); }

inline bool allFinite(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!isFiniteValue(values[i])) return false;
    return true;
}

}  // namespace kestrav
