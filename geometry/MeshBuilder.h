#pragma once

#include <cstdint>

#include "convert/SceneConverter.h"

class VertexFaceTable;

// Coordinates and, per material group, one separator per smoothing group with
// normals and an indexed face set.
class MeshBuilder : public SceneConverter {
public:
    explicit MeshBuilder(SceneConverter* converter);
    ~MeshBuilder();

    MeshBuilder* setFaceSetParent(SoSeparator* parent);
    void buildGeometry(int materialGroupIndex, int shading);

    const MeshRecord* mesh() const { return currentMesh; }
    const VertexFaceTable* table() const { return vertexFaceTable; }

private:
    void buildCoordinates();
    void buildFaceSet(const int32_t* list, SoSeparator* groupSeparator, int faceCount);

    VertexFaceTable* vertexFaceTable;
    SoSeparator* coordinateParent;
    SoSeparator* faceSetParent;
};
