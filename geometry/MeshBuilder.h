#pragma once

#include <cstdint>
#include <vector>

#include "reader/ModelRecords.h"

class SoSeparator;

namespace kestrav {

class NormalCalculator;
class VertexFaceTable;

// Coordinates and, per material group, one separator per smoothing group with
// normals and an indexed face set.
class MeshBuilder {
public:
    // The coordinates of every group go to coordinateParent.
    MeshBuilder(const MeshRecord* mesh, bool flatShading, SoSeparator* coordinateParent);
    ~MeshBuilder();
    MeshBuilder(const MeshBuilder&) = delete;
    MeshBuilder& operator=(const MeshBuilder&) = delete;

    // The coordinates, and the group's faces under faceSetParent.
    void buildGeometry(int materialGroupIndex, int shading, SoSeparator* faceSetParent);

    const VertexFaceTable* table() const { return vertexFaceTable; }
    // Three floats per face, the normal of each face the table holds.
    const float* faceNormals() const { return faceNormalCache.data(); }

private:
    void buildCoordinates();
    void buildFaceSet(const int32_t* list, SoSeparator* groupSeparator, int faceCount, SoSeparator* faceSetParent);
    void buildFaceNormalGroup(const int32_t* list, int faceCount, SoSeparator* faceSetParent);
    void buildVertexNormalGroup(const int32_t* list, int faceCount, uint32_t group, const NormalCalculator& normals,
                                SoSeparator* faceSetParent);

    void computeFaceNormals();

    const MeshRecord* currentMesh;
    bool flat;
    VertexFaceTable* vertexFaceTable;
    std::vector<float> faceNormalCache;
    SoSeparator* coordinateParent;
};

}  // namespace kestrav
