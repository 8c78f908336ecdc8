#pragma once

#include <Inventor/SbVec3f.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "reader/ModelRecords.h"

namespace kestrav {

class VertexFaceTable;

// One face set kept in memory. The arrays are left uninitialised until
// filled (zeroing them first would cost as much as a copy), and kept, with
// their capacities, for the next set that fits, unless a node took them
// (a capacity of 0).
struct FaceSetData {
    bool perVertex = false;
    int faceCount = 0;
    std::unique_ptr<int32_t[]> coordIndex;  // 4 per face
    std::unique_ptr<SbVec3f[]> normals;     // 3 per face when perVertex, else 1
    size_t indexCapacity = 0;
    size_t normalCapacity = 0;
};

// A material group's face sets kept in memory, for nodes made later, in the
// scene's order: the faces without smoothing group first, then groups 1 to 32.
class GroupFaces {
public:
    // Room for the next face set, of faceCount faces: four indices per face
    // (a, b, c, -1) and a normal per corner (perVertex) or per face.
    void room(int faceCount, bool perVertex, int32_t*& indices, SbVec3f*& normals);

    // Forgets the sets but keeps their arrays, so filling the object again
    // allocates only where a set needs more room.
    void clear() { used = 0; }
    size_t size() const { return used; }
    const FaceSetData& set(size_t i) const { return sets[i]; }
    FaceSetData& set(size_t i) { return sets[i]; }

private:
    std::vector<FaceSetData> sets;
    size_t used = 0;
};

// What the nodes of one mesh instance hold, worked out from its record alone:
// the vertex/face table, the face normals and each material group's face sets.
// It creates no Coin node, so instances can be worked out on several threads
// at once, each with its own object. One object serves mesh after mesh: its
// tables keep their storage from one reset to the next, so a thread allocates
// and first-touches them once, not once per instance. Throws std::bad_alloc
// when memory runs out.
class MeshGeometry {
public:
    MeshGeometry();
    ~MeshGeometry();
    MeshGeometry(const MeshGeometry&) = delete;
    MeshGeometry& operator=(const MeshGeometry&) = delete;

    // Works out the mesh's table and face normals; nothing of the mesh before
    // is kept. The mesh must outlive the next reset.
    void reset(const MeshRecord* mesh, bool flatShading);

    // The face sets of the material group (any index for a mesh without
    // material groups: all its faces), drawn with the material's shading.
    void groupFaces(int materialGroupIndex, int shading, GroupFaces& faces);

    const MeshRecord* mesh() const { return currentMesh; }
    const VertexFaceTable* table() const { return vertexFaceTable.get(); }
    // Three floats per face, the normal of each face the table holds.
    const float* faceNormals() const { return faceNormalCache.data(); }

private:
    void computeFaceNormals();
    void faceNormalSet(const int32_t* list, int faceCount, SbVec3f* normals) const;
    void vertexNormalSet(const int32_t* list, int faceCount, uint32_t group, SbVec3f* normals);

    const MeshRecord* currentMesh = nullptr;
    bool flat = false;
    std::unique_ptr<VertexFaceTable> vertexFaceTable;
    std::vector<float> faceNormalCache;
    // The first corner of each vertex in the group's list, or -1.
    std::vector<int> firstCorner;
};

}  // namespace kestrav
