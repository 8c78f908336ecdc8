#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "reader/ModelRecords.h"

class SbIntList;

namespace kestrav {

// One face at one vertex, with the face's smoothing mask as widened by the
// faces entered at that vertex before and after it.
struct VertexFaceEntry {
    uint32_t mask;
    int32_t face;
};

// The faces at one vertex, in the order they were entered. The first four
// entries live inline, so only vertices shared by more face corners allocate.
struct VertexFaceList {
public:
    VertexFaceList();
    ~VertexFaceList();
    VertexFaceList(const VertexFaceList&) = delete;
    VertexFaceList& operator=(const VertexFaceList&) = delete;

    // Throws std::bad_alloc, with the list unchanged, when its storage cannot
    // grow: a face left out at a vertex would give wrong normals unnoticed.
    void append(uint32_t mask, int32_t face);
    // Empties the list but keeps its storage for the next mesh.
    void clear() { count = 0; }
    int32_t getCount() const { return count; }
    int32_t getCapacity() const { return capacity; }
    VertexFaceEntry& item(int32_t i) { return entries[i]; }
    const VertexFaceEntry& item(int32_t i) const { return entries[i]; }

private:
    int32_t capacity;
    int32_t count;
    VertexFaceEntry* entries;
    VertexFaceEntry inlineEntries[4];
};

// For every vertex of a mesh the faces that use it, with smoothing masks merged
// around the vertex; also answers which smoothing groups a face is in.
//
// A face that names a vertex the mesh does not have, or one with a coordinate
// that is not a finite number, is unusable: it is never entered here, and the
// mesh builder leaves it out of every face set.
//
// One table serves mesh after mesh: reset keeps the lists and their storage,
// so a thread working out many meshes allocates and first-touches them once.
class VertexFaceTable {
public:
    explicit VertexFaceTable(const MeshRecord* mesh = nullptr);
    ~VertexFaceTable();
    VertexFaceTable(const VertexFaceTable&) = delete;
    VertexFaceTable& operator=(const VertexFaceTable&) = delete;

    // Empty lists for the mesh's vertices, nothing of the mesh before kept.
    void reset(const MeshRecord* mesh);
    void fill();
    uint32_t smoothingMask(int face) const;
    // {0} for a face without smoothing group, else its groups 1..32 ascending.
    // The list belongs to the table and lives until the next call.
    SbIntList* groupsOfFace(int face);

    // Widens the masks at one vertex by the one of entry n, just appended.
    static void mergeMasks(VertexFaceList& list, int32_t n);
    // The same for every entry from first on, in turn, the earlier ones merged
    // already; linear in the entries where mergeMasks is quadratic.
    static void mergeMasksFrom(VertexFaceList& list, int32_t first);
    // Entries up to this many at a vertex are merged as they come; most
    // vertices have fewer.
    static constexpr int32_t kEntriesMergedInTurn = 8;

    // Counts of what the mesh really holds: 0 when the array is missing.
    // Defined here, as the face loops ask them of every face.
    int vertexCount() const { return mesh && mesh->vertices ? mesh->vertexCount : 0; }
    int faceCount() const { return mesh && mesh->faces ? mesh->faceCount : 0; }
    bool isUsableFace(int face) const {
        if (face < 0 || face >= faceCount()) return false;
        const MeshFace& f = mesh->faces[face];
        const int vertices = vertexCount();
        return f.a < vertices && f.b < vertices && f.c < vertices && isFiniteVertex(f.a) && isFiniteVertex(f.b) &&
               isFiniteVertex(f.c);
    }
    // False for a vertex with an infinite or not-a-number coordinate.
    bool isFiniteVertex(int vertex) const { return !anyNonFinite || !nonFinite[size_t(vertex)]; }
    bool hasNonFiniteVertices() const { return anyNonFinite; }

    const VertexFaceList* getLists() const { return lists.get(); }

private:
    const MeshRecord* mesh;
    // Owned, so a constructor that runs out of memory halfway frees what it took.
    std::unique_ptr<SbIntList> groupList;
    std::unique_ptr<VertexFaceList[]> lists;
    size_t listCapacity = 0;
    // One flag per vertex, set only when some vertex is not finite (rare).
    std::vector<bool> nonFinite;
    bool anyNonFinite = false;
};

}  // namespace kestrav
