#pragma once

#include <cstdint>

namespace kestrav {

class VertexFaceTable;

// Face normals, and vertex normals within one smoothing group.
class NormalCalculator {
public:
    // faceNormals holds three floats for each face of the table's mesh; both
    // must outlive the calculator.
    NormalCalculator(const VertexFaceTable& table, const float* faceNormals);

    // The unit normal of the triangle, to the side from which p0, p1, p2 run
    // counter-clockwise; (0, 0, 0) for a degenerate one.
    static void faceNormal(const float* p0, const float* p1, const float* p2, float out[3]);
    // The normalised average of the normals of the faces at the vertex whose
    // merged masks hold the group (1..32); (0, 0, 0) when none does.
    void vertexNormal(int vertex, uint32_t group, float out[3]) const;

private:
    const VertexFaceTable& table;
    const float* faceNormals;
};

}  // namespace kestrav
