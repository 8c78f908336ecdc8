#include "geometry/MeshBuilder.h"

#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoNormalBinding.h>
#include <Inventor/nodes/SoSeparator.h>

#include <memory>
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
// the face set, whose fields the caller fills.
SoSeparator* groupSeparator(bool perVertex, SoMFVec3f*& normals, SoMFInt32*& indices) {
    SoSeparator* separator = new SoSeparator;
    SoNormalBinding* normalBinding = new SoNormalBinding;
    normalBinding->value = perVertex ? SoNormalBinding::PER_VERTEX : SoNormalBinding::PER_FACE;
    separator->addChild(normalBinding);
    SoNormal* normal = new SoNormal;
    separator->addChild(normal);
    SoIndexedFaceSet* faceSet = new SoIndexedFaceSet;
    separator->addChild(faceSet);
    normals = &normal->vector;
    indices = &faceSet->coordIndex;
    return separator;
}

int normalCount(int faceCount, bool perVertex) { return faceCount * (perVertex ? 3 : 1); }

// The field takes the array, allocated with new[] as its own are, and deletes
// it with its node: the calling thread copies nothing, and the pages were
// first touched by the worker that filled them.
template <class Field, class Value>
void handOver(Field& field, int count, std::unique_ptr<Value[]>& values, size_t& capacity) {
    if (count == 0) return;
    field.setValuesPointer(count, values.get());
    field.enableDeleteValues();
    values.release();
    capacity = 0;
}

// Face sets built straight into the nodes' fields, with no copy between.
class NodeSink final : public FaceSetSink {
public:
    explicit NodeSink(SoSeparator* faceSetParent) : parent(faceSetParent) {}

    void room(int faceCount, bool perVertex, int32_t*& indices, SbVec3f*& normals) override {
        SoMFVec3f* normalField;
        SoMFInt32* indexField;
        parent->addChild(groupSeparator(perVertex, normalField, indexField));
        normalField->setNum(normalCount(faceCount, perVertex));
        indexField->setNum(4 * faceCount);
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

void MeshBuilder::buildGeometry(const MeshRecord* mesh, GroupFaces& faces, SoSeparator* coordinates,
                                SoSeparator* faceSetParent) {
    buildCoordinates(mesh, coordinates);
    for (size_t i = 0; i < faces.size(); ++i) {
        FaceSetData& set = faces.set(i);
        SoMFVec3f* normals;
        SoMFInt32* indices;
        faceSetParent->addChild(groupSeparator(set.perVertex, normals, indices));
        handOver(*normals, normalCount(set.faceCount, set.perVertex), set.normals, set.normalCapacity);
        handOver(*indices, 4 * set.faceCount, set.coordIndex, set.indexCapacity);
    }
}

}  // namespace kestrav
