#include "geometry/MeshBuilder.h"

#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoNormalBinding.h>
#include <Inventor/nodes/SoSeparator.h>

#include <vector>

#include "reader/FiniteValues.h"

namespace kestrav {

namespace {
void buildCoordinates(const MeshRecord* mesh, SoSeparator* coordinateParent) {
    SoCoordinate3* coordinates = new SoCoordinate3;
    const int count = mesh && mesh->vertices ? mesh->vertexCount : 0;
    coordinates->point.setNum(count);
    if (count != 0) {
        coordinates->point.setValues(0, count, reinterpret_cast<const float(*)[3]>(mesh->vertices));
        // Coin cannot read back an infinity or a not-a-number; no face uses
        // these vertices, so the origin keeps the indices of the others.
        SbVec3f* points = nullptr;
        for (int v = 0; v < count; ++v) {
            if (allFinite(mesh->vertices + 3 * v, 3)) continue;
            if (!points) points = coordinates->point.startEditing();
            points[v].setValue(0.0f, 0.0f, 0.0f);
        }
        if (points) coordinates->point.finishEditing();
    }
    coordinateParent->addChild(coordinates);
}

// A group separator with its normal binding and the nodes for the normals and
// the face set; sized here, filled in place by the caller.
SoSeparator* groupSeparator(int faceCount, bool perVertex, SoMFVec3f*& normals, SoMFInt32*& indices) {
    SoSeparator* separator = new SoSeparator;
    SoNormalBinding* normalBinding = new SoNormalBinding;
    normalBinding->value = perVertex ? SoNormalBinding::PER_VERTEX : SoNormalBinding::PER_FACE;
    separator->addChild(normalBinding);
    SoNormal* normal = new SoNormal;
    normal->vector.setNum(faceCount * (perVertex ? 3 : 1));
    separator->addChild(normal);
    SoIndexedFaceSet* faceSet = new SoIndexedFaceSet;
    faceSet->coordIndex.setNum(4 * faceCount);
    separator->addChild(faceSet);
    normals = &normal->vector;
    indices = &faceSet->coordIndex;
    return separator;
}

// Face sets built straight into the nodes' fields, with no copy between.
class NodeSink final : public FaceSetSink {
public:
    explicit NodeSink(SoSeparator* faceSetParent) : parent(faceSetParent) {}

    void room(int faceCount, bool perVertex, int32_t*& indices, SbVec3f*& normals) override {
        SoMFVec3f* normalField;
        SoMFInt32* indexField;
        parent->addChild(groupSeparator(faceCount, perVertex, normalField, indexField));
        normals = normalField->startEditing();
        indices = indexField->startEditing();
        edited.push_back({normalField, indexField});
    }

    void filled() override {
        for (const Edited& fields : edited) {
            fields.normals->finishEditing();
            fields.indices->finishEditing();
        }
        edited.clear();
    }

private:
    struct Edited {
        SoMFVec3f* normals;
        SoMFInt32* indices;
    };
    SoSeparator* parent;
    std::vector<Edited> edited;
};
}  // namespace

MeshBuilder::MeshBuilder(const MeshRecord* mesh, bool flatShading, SoSeparator* coordinates)
    : currentMesh(mesh), geometry(new MeshGeometry(mesh, flatShading)), coordinateParent(coordinates) {}

MeshBuilder::~MeshBuilder() = default;

void MeshBuilder::buildGeometry(int materialGroupIndex, int shading, SoSeparator* faceSetParent) {
    buildCoordinates(currentMesh, coordinateParent);
    NodeSink sink(faceSetParent);
    geometry->groupFaces(materialGroupIndex, shading, sink);
}

void MeshBuilder::buildGeometry(const MeshRecord* mesh, const GroupFaces& faces, SoSeparator* coordinates,
                                SoSeparator* faceSetParent) {
    buildCoordinates(mesh, coordinates);
    for (size_t i = 0; i < faces.size(); ++i) {
        const FaceSetData& set = faces.set(i);
        SoMFVec3f* normals;
        SoMFInt32* indices;
        faceSetParent->addChild(groupSeparator(set.faceCount, set.perVertex, normals, indices));
        normals->setValues(0, set.faceCount * (set.perVertex ? 3 : 1), set.normals.get());
        indices->setValues(0, 4 * set.faceCount, set.coordIndex.get());
    }
}

}  // namespace kestrav
