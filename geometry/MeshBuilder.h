#pragma once

#include "geometry/MeshGeometry.h"
#include "reader/ModelRecords.h"

class SoSeparator;

namespace kestrav {

class VertexFaceTable;

// Coordinates and, per material group, one separator per smoothing group with
// normals and an indexed face set.
class MeshBuilder {
public:
    // Works out the mesh's geometry on this thread, in geometry (reset for the
    // mesh, its storage reused), which must outlive the builder; the
    // coordinates of every group go to coordinateParent.
    MeshBuilder(MeshGeometry& geometry, const MeshRecord* mesh, bool flatShading, SoSeparator* coordinateParent);
    ~MeshBuilder();
    MeshBuilder(const MeshBuilder&) = delete;
    MeshBuilder& operator=(const MeshBuilder&) = delete;

    // The coordinates, and the group's faces under faceSetParent.
    void buildGeometry(int materialGroupIndex, int shading, SoSeparator* faceSetParent);
    // The same for faces worked out before, on any thread: the mesh's
    // coordinates under coordinates, then the face sets under faceSetParent.
    // The sets' arrays pass to the nodes, uncopied; faces keeps the sets,
    // without arrays.
    static void buildGeometry(const MeshRecord* mesh, GroupFaces& faces, SoSeparator* coordinates,
                              SoSeparator* faceSetParent);

    const VertexFaceTable* table() const { return geometry.table(); }
    // Three floats per face, the normal of each face the table holds.
    const float* faceNormals() const { return geometry.faceNormals(); }

private:
    MeshGeometry& geometry;
    SoSeparator* coordinateParent;
    GroupFaces faces;
};

}  // namespace kestrav
