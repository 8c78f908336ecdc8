#include "geometry/NormalCalculator.h"

#include <Inventor/SbVec3f.h>

#include <cmath>

#include "geometry/VectorOps.h"
#include "geometry/VertexFaceTable.h"

namespace kestrav {

namespace {
// A degenerate triangle's (0, 0, 0) is written as it is; normalize would
// complain about it.
void normalizeUnlessZero(const float v[3], float out[3]) {
    SbVec3f vector(v[0], v[1], v[2]);
    if (!(v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0)) vector.normalize();
    out[0] = vector[0];
    out[1] = vector[1];
    out[2] = vector[2];
}

// The unit normal in double precision, for corners so far apart that the float
// edges, cross product or length overflow; (0, 0, 0) when it has no direction.
void wideFaceNormal(const float* p0, const float* p1, const float* p2, float out[3]) {
    const double e1[3] = {double(p2[0]) - p1[0], double(p2[1]) - p1[1], double(p2[2]) - p1[2]};
    const double e2[3] = {double(p0[0]) - p1[0], double(p0[1]) - p1[1], double(p0[2]) - p1[2]};
    const double n[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e1[1] * e2[0]};
    const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    for (int i = 0; i < 3; ++i) out[i] = length > 0.0 && std::isfinite(length) ? float(n[i] / length) : 0.0f;
}
}  // namespace

NormalCalculator::NormalCalculator(const VertexFaceTable& vertexFaceTable, const float* normals)
    : table(vertexFaceTable), faceNormals(normals) {}

void NormalCalculator::faceNormal(const float* p0, const float* p1, const float* p2, float out[3]) {
    float e1[3], e2[3], n[3];
    subtract(p2, p1, e1);
    subtract(p0, p1, e2);
    cross(e1, e2, n);
    // Float lengths of huge or tiny normals overflow or vanish; the float path
    // stays for every other triangle, whose normals must keep their last bits.
    const float squared = n[0] * n[0] + n[1] * n[1] + n[2] * n[2];
    const bool zero = n[0] == 0.0f && n[1] == 0.0f && n[2] == 0.0f;
    if (zero || (squared > 0.0f && std::isfinite(squared)))
        normalizeUnlessZero(n, out);
    else
        wideFaceNormal(p0, p1, p2, out);
}

void NormalCalculator::vertexNormal(int vertex, uint32_t group, float out[3]) const {
    float sum[3] = {0.0f, 0.0f, 0.0f};
    const bool known = vertex >= 0 && vertex < table.vertexCount();
    if (known && group >= 1 && group <= 32) {
        const uint32_t bit = 1u << (group - 1);
        const VertexFaceList list = table.list(vertex);
        int k = 1;
        for (int32_t i = 0; i < list.getCount(); ++i) {
            const VertexFaceEntry& entry = list.item(i);
            if ((entry.mask & bit) == 0) continue;
            // Only usable faces are entered, and the builder has the normal of each.
            const float* n = faceNormals + 3 * size_t(entry.face);
            sum[0] = sum[0] + n[0];
            sum[1] = sum[1] + n[1];
            sum[2] = sum[2] + n[2];
            ++k;
        }
        if (k != 1) --k;
        // A true division: SbVec3f's operator/= multiplies by 1/k, which moves
        // the last bits of the result.
        const float divisor = float(k);
        sum[0] = sum[0] / divisor;
        sum[1] = sum[1] / divisor;
        sum[2] = sum[2] / divisor;
    }
    normalizeUnlessZero(sum, out);
}

}  // namespace kestrav
