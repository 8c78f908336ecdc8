// The chunks of named objects and their triangle meshes.

#include <cstddef>
#include <cstring>

#include "reader/ChunkId.h"
#include "reader/FiniteValues.h"
#include "reader/WalkState.h"

namespace kestrav {

namespace {

constexpr int kMaterialNameSize = 17;

// The cursor's array readers, by the type of the array.
bool readValues(ChunkCursor& in, float* out, uint32_t count) { return in.readF32s(out, count); }
bool readValues(ChunkCursor& in, uint16_t* out, uint32_t count) { return in.readU16s(out, count); }
bool readValues(ChunkCursor& in, uint32_t* out, uint32_t count) { return in.readU32s(out, count); }

static_assert(sizeof(MeshFace) == 4 * sizeof(uint16_t) && offsetof(MeshFace, a) == 0 &&
                  offsetof(MeshFace, b) == 2 && offsetof(MeshFace, c) == 4 && offsetof(MeshFace, flags) == 6,
              "a face is four 16-bit values, a, b, c and flags, as in the file");
bool readValues(ChunkCursor& in, MeshFace* out, uint32_t count) {
    return in.readU16s(reinterpret_cast<uint16_t*>(out), count * 4);
}

// Reads count values of T, after checking that the chunk holds them, into an
// array from the model's allocator; null for a count of 0.
template <class T>
Outcome readArray(WalkState& walk, ChunkCursor& in, uint32_t count, T*& out) {
    out = nullptr;
    // A count the chunk cannot hold must not size an allocation.
    if (int64_t(count) * int64_t(sizeof(T)) > in.remaining()) return Outcome::Damaged;
    T* values;
    if (!walk.allocateArray(values, count)) return Outcome::OutOfMemory;
    if (!readValues(in, values, count)) {
        std::free(values);
        return failureOf(in);
    }
    out = values;
    return Outcome::GoOn;
}

// 0x4000 NAMED_OBJECT: object name; a light's or camera's name passes through too.
Outcome readObjectName(WalkState& walk, ChunkCursor& in) {
    return in.readName(walk.objectName, kObjectNameSize) ? Outcome::GoOn : failureOf(in);
}

// 0x4100 N_TRI_OBJECT: no payload; a new mesh named after the last 0x4000.
Outcome openMesh(WalkState& walk, ChunkCursor&) {
    return walk.lists.appendMesh(walk.objectName) ? Outcome::GoOn : Outcome::OutOfMemory;
}

// 0x4110 POINT_ARRAY: u16 n, then n vertices of three floats.
Outcome readPoints(WalkState& walk, ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    float* vertices;
    const Outcome read = readArray(walk, in, uint32_t(n) * 3, vertices);
    if (read != Outcome::GoOn) return read;
    // Kept as read: the faces around such a vertex still count for the
    // material groups and smoothing masks; the mesh builder leaves them out.
    if (!allFinite(vertices, size_t(n) * 3)) walk.localDamage = true;
    replace(mesh.vertices, vertices);
    mesh.vertexCount = n;
    return Outcome::GoOn;
}

// 0x4111 POINT_FLAG_ARRAY: u16 n, then n u16 flags. Some writers put more flags
// in the chunk than n says; the walk goes on at the chunk's end.
Outcome readPointFlags(WalkState& walk, ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    uint16_t* flags;
    const Outcome read = readArray(walk, in, n, flags);
    if (read != Outcome::GoOn) return read;
    replace(mesh.vertexFlags, flags);
    mesh.vertexFlagCount = n;
    return Outcome::GoOn;
}

// 0x4120 FACE_ARRAY: u16 n, then n faces of u16 a, b, c, flags; its sub-chunks follow.
Outcome readFaces(WalkState& walk, ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    MeshFace* faces;
    const Outcome read = readArray(walk, in, n, faces);
    if (read != Outcome::GoOn) return read;
    replace(mesh.faces, faces);
    mesh.faceCount = n;
    // Smoothing masks are counted by the faces they belong to: a second face
    // array must not leave a mask array of the first one's size.
    replace(mesh.smoothingGroups, static_cast<uint32_t*>(nullptr));
    return Outcome::GoOn;
}

// 0x4130 MSH_MAT_GROUP: material name, u16 n, then n u16 face indices.
Outcome readMaterialGroup(WalkState& walk, ChunkCursor& in, MeshRecord& mesh) {
    char name[kMaterialNameSize];
    uint16_t n;
    if (!in.readName(name, kMaterialNameSize) || !in.readU16(n)) return failureOf(in);
    // The group count is 16 bits wide; a group beyond it cannot be stored. A
    // count the chunk cannot hold is still damage.
    if (mesh.materialGroupCount == 0xFFFF)
        return int64_t(n) * 2 > in.remaining() ? Outcome::Damaged : Outcome::SkipChunk;
    uint16_t* faces;
    const Outcome read = readArray(walk, in, n, faces);
    if (read != Outcome::GoOn) return read;
    const size_t count = size_t(mesh.materialGroupCount) + 1;
    void* groups = walk.lists.grow(mesh.materialGroups, sizeof(MaterialGroup), count);
    if (!groups) {
        std::free(faces);
        return Outcome::OutOfMemory;
    }
    mesh.materialGroups = static_cast<MaterialGroup*>(groups);
    MaterialGroup& group = mesh.materialGroups[count - 1];
    std::memcpy(group.materialName, name, sizeof name);
    group.faceCount = n;
    group.faces = faces;
    mesh.materialGroupCount = uint16_t(count);
    return Outcome::GoOn;
}

// 0x4140 TEX_VERTS: u16 n, then n pairs of float u, v.
Outcome readTexCoords(WalkState& walk, ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    float* coords;
    const Outcome read = readArray(walk, in, uint32_t(n) * 2, coords);
    if (read != Outcome::GoOn) return read;
    // Some writers leave garbage in unmapped coordinates.
    for (int i = 0; i < n * 2; ++i)
        if (!(coords[i] >= -1e10f && coords[i] <= 1e10f)) coords[i] = 0.0f;
    replace(mesh.texCoords, coords);
    mesh.texCoordCount = n;
    return Outcome::GoOn;
}

// 0x4150 SMOOTH_GROUP: one u32 per face; the count comes from the mesh, not the chunk.
Outcome readSmoothing(WalkState& walk, ChunkCursor& in, MeshRecord& mesh) {
    uint32_t* masks;
    const Outcome read = readArray(walk, in, mesh.faceCount, masks);
    if (read != Outcome::GoOn) return read;
    replace(mesh.smoothingGroups, masks);
    return Outcome::GoOn;
}

// 0x4160 MESH_MATRIX: 12 floats, X axis, Y axis, Z axis, origin; a frame with
// a number that is not finite is damaged, and the mesh keeps the one it had.
Outcome readMatrix(WalkState&, ChunkCursor& in, MeshRecord& mesh) { return readFloats(in, mesh.matrix, 12); }

constexpr ChunkRule kMeshRules[] = {
    {NAMED_OBJECT, Kind::Descended, readObjectName},
    {N_TRI_OBJECT, Kind::Descended, openMesh},
    {POINT_ARRAY, Kind::Leaf, onMesh<readPoints>},
    {POINT_FLAG_ARRAY, Kind::Leaf, onMesh<readPointFlags>},
    {FACE_ARRAY, Kind::Descended, onMesh<readFaces>},
    {MSH_MAT_GROUP, Kind::Leaf, onMesh<readMaterialGroup>},
    {TEX_VERTS, Kind::Leaf, onMesh<readTexCoords>},
    {SMOOTH_GROUP, Kind::Leaf, onMesh<readSmoothing>},
    {MESH_MATRIX, Kind::Leaf, onMesh<readMatrix>},
};

}  // namespace

ChunkRules meshRules() { return checkedRules<kMeshRules>(); }

}  // namespace kestrav
