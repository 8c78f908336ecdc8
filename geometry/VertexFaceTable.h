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

// The faces at one vertex, in the order they were entered: a view into the
// table, valid until its next reset.
struct VertexFaceList {
    VertexFaceEntry* entries;
    int32_t count;

    int32_t getCount() const { return count; }
    VertexFaceEntry& item(int32_t i) const { return entries[i]; }
};

// For every vertex of a mesh the faces that use it, with smoothing masks merged
// around the vertex; also answers which smoothing groups a face is in.
//
// A face that names a vertex the mesh does not have, or one with a coordinate
// that is not a finite number, is unusable: it is never entered here, and the
// mesh builder leaves it out of every face set.
//
// The lists lie one after the other in a single array, vertex by vertex, so
// entering a face touches no list of its own and allocates nothing. One table
// serves mesh after mesh: reset keeps the arrays, so a thread working out many
// meshes allocates and first-touches them once.
class VertexFaceTable {
public:
    explicit VertexFaceTable(const MeshRecord* mesh = nullptr);
    ~VertexFaceTable();
    VertexFaceTable(const VertexFaceTable&) = delete;
    VertexFaceTable& operator=(const VertexFaceTable&) = delete;

    // Empty lists for the mesh's vertices, nothing of the mesh before kept.
    void reset(const MeshRecord* mesh);
    // Enters every usable face at its three vertices, in face order; once
    // after each reset.
    void fill();
    uint32_t smoothingMask(int face) const;
    // {0} for a face without smoothing group, else its groups 1..32 ascending.
    // The list belongs to the table and lives until the next call.
    SbIntList* groupsOfFace(int face);

    // Widens the masks at one vertex by the one of entry n, just appended.
    static void mergeMasks(VertexFaceEntry* entries, int32_t n);
    // The same for every entry from first on, in turn, the earlier ones merged
    // already; linear in the entries where mergeMasks is quadratic.
    static void mergeMasksFrom(VertexFaceList list, int32_t first);
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

    // The faces at a vertex below vertexCount().
    VertexFaceList list(int vertex) const {
        const int32_t first = firstEntry[size_t(vertex)];
        return {entries.get() + first, firstEntry[size_t(vertex) + 1] - first};
    }

private:
    const MeshRecord* mesh;
    // Owned, so a constructor that runs out of memory halfway frees what it took.
    std::unique_ptr<SbIntList> groupList;
    // Vertex v's entries are entries[firstEntry[v]] up to firstEntry[v + 1].
    std::vector<int32_t> firstEntry;
    // Where fill puts each vertex's next entry.
    std::vector<int32_t> nextEntry;
    // Left uninitialised: fill writes every entry before it is read.
    std::unique_ptr<VertexFaceEntry[]> entries;
    size_t entryCapacity = 0;
    // One flag per vertex, set only when some vertex is not finite (rare).
    std::vector<bool> nonFinite;
    bool anyNonFinite = false;
};

}  // namespace kestrav
