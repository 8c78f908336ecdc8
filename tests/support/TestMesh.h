#pragma once

// A mesh record over vectors the test owns, for the builders and the normal
// calculator, and the face normal the builder gives each of its faces.

#include <Inventor/SbVec3f.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "geometry/NormalCalculator.h"
#include "reader/ModelRecords.h"

using namespace kestrav;

struct TestMesh {
    std::vector<float> vertices;
    std::vector<MeshFace> faces;
    std::vector<uint32_t> masks;                    // empty: no smoothing data
    std::vector<std::vector<uint16_t>> groupFaces;  // empty: no material groups
    std::vector<MaterialGroup> groups;
    MeshRecord record{};

    MeshRecord* get() {
        record.vertexCount = uint16_t(vertices.size() / 3);
        record.vertices = vertices.empty() ? nullptr : vertices.data();
        record.faceCount = uint16_t(faces.size());
        record.faces = faces.empty() ? nullptr : faces.data();
        record.smoothingGroups = masks.empty() ? nullptr : masks.data();
        groups.assign(groupFaces.size(), MaterialGroup{});
        for (size_t i = 0; i < groupFaces.size(); ++i) {
            groups[i].faceCount = uint16_t(groupFaces[i].size());
            groups[i].faces = groupFaces[i].data();
        }
        record.materialGroupCount = uint16_t(groups.size());
        record.materialGroups = groups.empty() ? nullptr : groups.data();
        return &record;
    }
};

inline MeshFace face(uint16_t a, uint16_t b, uint16_t c) { return MeshFace{a, b, c, 0}; }

inline SbVec3f faceNormalOf(const TestMesh& mesh, int f) {
    const MeshFace& fc = mesh.faces[size_t(f)];
    const float* v = mesh.vertices.data();
    float n[3];
    NormalCalculator::faceNormal(v + 3 * fc.a, v + 3 * fc.b, v + 3 * fc.c, n);
    return SbVec3f(n);
}

// Failure messages show vectors as (x, y, z).
inline void PrintTo(const SbVec3f& v, std::ostream* os) { *os << '(' << v[0] << ", " << v[1] << ", " << v[2] << ')'; }
