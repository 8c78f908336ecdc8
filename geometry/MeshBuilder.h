#pragma once

#include <cstdint>
#include <vector>

#include "convert/SceneConverter.h"

namespace kestrav {

class NormalCalculator;
class VertexFaceTable;

// Coordinates and, per material group, one separator per smoothing group with
// normals and an indexed face set.
class MeshBuilder : public SceneConverter {
public:
    explicit MeshBuilder(SceneConverter* converter);
    ~MeshBuilder();
    MeshBuilder(const MeshBuilder&) = delete;
    MeshBuilder& operator=(const MeshBuilder&) = delete;

    void setFaceSetParent(SoSeparator* parent);
    void buildGeometry(int materialGroupIndex, int shading);

    const VertexFaceTable* table() const { return vertexFaceTable; }
    // Three floats per face, the normal of each face the table holds.
    const float* faceNormals() const { return faceNormalCache.data(); }

private:
    void buildCoordinates();
    void buildFaceSet(const int32_t* list, SoSeparator* groupSeparator, int faceCount);
    void buildFaceNormalGroup(const int32_t* list, int faceCount);
    void buildVertexNormalGroup(const int32_t* list, int faceCount, uint32_t group, const NormalCalculator& normals);

    void computeFaceNormals();

    VertexFaceTable* vertexFaceTable;
    std::vector<float> faceNormalCache;
    SoSeparator* coordinateParent;
    SoSeparator* faceSetParent;
};

}  // namespace kestrav
