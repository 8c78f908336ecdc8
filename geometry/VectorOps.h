#pragma once

namespace kestrav {

// Operations on three-float vectors, each component in single precision, for
// the normals and for the transform builder's mirror test.

// out = a - b. out may be a or b.
void subtract(const float a[3], const float b[3], float out[3]);
// out = a x b. out may be a or b.
void cross(const float a[3], const float b[3], float out[3]);
// out = a . b truncated toward zero: 0.99 gives 0, -1.5 gives -1. A dot
// outside int's range is clamped to it, and not-a-number gives 0.
void dotTruncated(const float a[3], const float b[3], int& out);

}  // namespace kestrav
