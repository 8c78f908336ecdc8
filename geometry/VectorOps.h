#pragma once

// Operations on three-float vectors, each component in single precision, for
// the normals and for the transform builder's mirror test. Defined here so the
// normal loops can inline them.

#include <cmath>
#include <cstdint>

namespace kestrav {

// out = a - b. out may be a or b.
inline void subtract(const float a[3], const float b[3], float out[3]) {
    out[0] = a[0] - b[0];
    out[1] = a[1] - b[1];
    out[2] = a[2] - b[2];
}

// out = a - b in double precision, and its length: points so far apart that
// the float difference or its length overflows still have both.
inline double wideDifference(const float a[3], const float b[3], double out[3]) {
    out[0] = double(a[0]) - b[0];
    out[1] = double(a[1]) - b[1];
    out[2] = double(a[2]) - b[2];
    return std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
}

// out = a x b. out may be a or b.
inline void cross(const float a[3], const float b[3], float out[3]) {
    const float x = a[1] * b[2] - a[2] * b[1];
    const float y = a[2] * b[0] - a[0] * b[2];
    const float z = a[0] * b[1] - a[1] * b[0];
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

// out = a . b truncated toward zero: 0.99 gives 0, -1.5 gives -1. A dot
// outside int's range is clamped to it, and not-a-number gives 0.
inline void dotTruncated(const float a[3], const float b[3], int& out) {
    const float dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    // Converting a float outside int's range is undefined; such a dot (or NaN)
    // can only come from absurd vertex data, so it is clamped.
    if (!(dot == dot))
        out = 0;
    else if (dot >= 2147483648.0f)
        out = INT32_MAX;
    else if (dot <= -2147483648.0f)
        out = INT32_MIN;
    else
        out = int(dot);
}

}  // namespace kestrav
