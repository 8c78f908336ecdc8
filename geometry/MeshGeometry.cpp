#include "geometry/MeshGeometry.h"

#include "geometry/NormalCalculator.h"
#include "geometry/VertexFaceTable.h"

namespace kestrav {

namespace {
// Group 0 holds the faces without smoothing group; 1..32 are the mask bits.
constexpr int kGroupCount = 33;
constexpr int kIntsPerFace = 4;
}  // namespace

MeshGeometry::MeshGeometry() : vertexFaceTable(new VertexFaceTable) {}

MeshGeometry::~MeshGeometry() = default;

void MeshGeometry::reset(const MeshRecord* mesh, bool flatShading) {
    currentMesh = mesh;
    flat = flatShading;
    vertexFaceTable->reset(mesh);
    vertexFaceTable->fill();
    computeFaceNormals();
}

// Every vertex normal sums the normals of the faces around it; computing each
// once per instance saves doing it again at each of its corners and groups.
void MeshGeometry::computeFaceNormals() {
    const int faces = vertexFaceTable->faceCount();
    faceNormalCache.assign(size_t(faces) * 3, 0.0f);
    const float* vertices = currentMesh ? currentMesh->vertices : nullptr;
    for (int f = 0; f < faces; ++f) {
        if (!vertexFaceTable->isUsableFace(f)) continue;
        const MeshFace& face = currentMesh->faces[f];
        NormalCalculator::faceNormal(vertices + 3 * face.a, vertices + 3 * face.b, vertices + 3 * face.c,
                                     &faceNormalCache[size_t(f) * 3]);
    }
}

void GroupFaces::room(int faceCount, bool perVertex, int32_t*& indices, SbVec3f*& normals) {
    if (used == sets.size()) sets.emplace_back();
    FaceSetData& set = sets[used++];
    set.perVertex = perVertex;
    set.faceCount = faceCount;
    const size_t indexCount = size_t(faceCount) * kIntsPerFace;
    const size_t normalCount = size_t(faceCount) * (perVertex ? 3 : 1);
    if (set.indexCapacity < indexCount) {
        set.coordIndex.reset();
        set.coordIndex.reset(new int32_t[indexCount]);
        set.indexCapacity = indexCount;
    }
    if (set.normalCapacity < normalCount) {
        set.normals.reset();
        set.normals.reset(new SbVec3f[normalCount]);
        set.normalCapacity = normalCount;
    }
    // Moving a set when the list grows keeps its arrays where they are.
    indices = set.coordIndex.get();
    normals = set.normals.get();
}

void MeshGeometry::groupFaces(int materialGroupIndex, int shading, GroupFaces& faces) {
    const uint16_t* selection = nullptr;
    int selected = vertexFaceTable->faceCount();
    if (currentMesh && currentMesh->materialGroupCount != 0) {
        selected = 0;
        if (currentMesh->materialGroups && materialGroupIndex >= 0 &&
            materialGroupIndex < currentMesh->materialGroupCount) {
            const MaterialGroup& group = currentMesh->materialGroups[materialGroupIndex];
            selection = group.faces;
            if (selection) selected = group.faceCount;
        }
    }
    if (selected == 0) return;

    // Counted first, so each face set gets exactly its room.
    // A face naming a missing vertex, or a group naming a missing face, is not drawn.
    const uint32_t* masks = currentMesh->smoothingGroups;
    int counts[kGroupCount] = {};
    for (int i = 0; i < selected; ++i) {
        const int f = selection ? selection[i] : i;
        if (!vertexFaceTable->isUsableFace(f)) continue;
        uint32_t mask = masks ? masks[f] : 0;
        if (mask == 0) ++counts[0];
        for (int g = 1; mask != 0; ++g, mask >>= 1) counts[g] += int(mask & 1u);
    }
    const bool facetted = shading == 1 || flat;
    int32_t* lists[kGroupCount] = {};
    SbVec3f* normals[kGroupCount] = {};
    for (int g = 0; g < kGroupCount; ++g)
        if (counts[g] != 0) faces.room(counts[g], g != 0 && !facetted, lists[g], normals[g]);
    int32_t* ends[kGroupCount];
    for (int g = 0; g < kGroupCount; ++g) ends[g] = lists[g];
    for (int i = 0; i < selected; ++i) {
        const int f = selection ? selection[i] : i;
        if (!vertexFaceTable->isUsableFace(f)) continue;
        const MeshFace& face = currentMesh->faces[f];
        const auto put = [&](int g) {
            int32_t* out = ends[g];
            out[0] = face.a;
            out[1] = face.b;
            out[2] = face.c;
            out[3] = -1;
            ends[g] = out + kIntsPerFace;
        };
        uint32_t mask = masks ? masks[f] : 0;
        if (mask == 0) put(0);
        for (int g = 1; mask != 0; ++g, mask >>= 1)
            if (mask & 1u) put(g);
    }

    for (int g = 0; g < kGroupCount; ++g) {
        if (counts[g] == 0) continue;
        if (g == 0 || facetted)
            faceNormalSet(lists[g], counts[g], normals[g]);
        else
            vertexNormalSet(lists[g], counts[g], uint32_t(g), normals[g]);
    }
}

void MeshGeometry::faceNormalSet(const int32_t* list, int faceCount, SbVec3f* normals) const {
    const float* vertices = currentMesh->vertices;
    for (int i = 0; i < faceCount; ++i) {
        const int32_t* face = list + i * kIntsPerFace;
        float n[3];
        NormalCalculator::faceNormal(vertices + 3 * face[0], vertices + 3 * face[1], vertices + 3 * face[2], n);
        normals[i].setValue(n);
    }
}

void MeshGeometry::vertexNormalSet(const int32_t* list, int faceCount, uint32_t group, SbVec3f* vectors) {
    const NormalCalculator normals(*vertexFaceTable, faceNormalCache.data());
    // A vertex's normal within one group is the same at every corner that uses
    // it; computing it once per vertex keeps a fan of thousands of faces around
    // one vertex linear instead of quadratic.
    firstCorner.assign(size_t(vertexFaceTable->vertexCount()), -1);
    for (int i = 0; i < 3 * faceCount; ++i) {
        const int vertex = list[i / 3 * kIntsPerFace + i % 3];
        int& first = firstCorner[size_t(vertex)];
        if (first >= 0) {
            vectors[i] = vectors[first];
            continue;
        }
        float n[3];
        normals.vertexNormal(vertex, group, n);
        vectors[i].setValue(n);
        first = i;
    }
}

}  // namespace kestrav
