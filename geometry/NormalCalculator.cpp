#include "geometry/NormalCalculator.h"

#include <Inventor/SbVec3f.h>

#include "geometry/VectorOps.h"
#include "geometry/VertexFaceTable.h"

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
}  // namespace

NormalCalculator::NormalCalculator(const VertexFaceTable& vertexFaceTable, const float* normals)
    : table(vertexFaceTable), lists(vertexFaceTable.getLists()), faceNormals(normals) {}

void NormalCalculator::faceNormal(const float* p0, const float* p1, const float* p2, float out[3]) {
    float e1[3], e2[3], n[3];
    subtract(p2, p1, e1);
    subtract(p0, p1, e2);
    cross(e1, e2, n);
    normalizeUnlessZero(n, out);
}

void NormalCalculator::vertexNormal(int vertex, uint32_t group, float out[3]) const {
    float sum[3] = {0.0f, 0.0f, 0.0f};
    const bool known = vertex >= 0 && vertex < table.vertexCount();
    if (known && group >= 1 && group <= 32) {
        const uint32_t bit = 1u << (group - 1);
        const VertexFaceList& list = lists[vertex];
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
