#pragma once

#include <cstdint>

struct VertexFaceList;
class VertexFaceTable;
class MeshBuilder;

// Face normals and per-smoothing-group vertex normals. Default-constructed it
// offers only the vector operations, which the transform builder uses too.
class NormalCalculator {
public:
    NormalCalculator();
    NormalCalculator& bind(const MeshBuilder& builder);

    void faceNormal(const float* p0, const float* p1, const float* p2, float out[3]) const;
    void vertexNormal(int vertex, uint32_t group, float out[3]) const;

    void subtract(const float a[3], const float b[3], float out[3]) const;
    void cross(const float a[3], const float b[3], float out[3]) const;
    void dotTruncated(const float a[3], const float b[3], int& out) const;

private:
    const VertexFaceTable* table;
    const VertexFaceList* lists;
    const float* faceNormals;
};
