#include "geometry/MeshBuilder.h"

#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoNormalBinding.h>
#include <Inventor/nodes/SoSeparator.h>

#include <memory>

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

}  // namespace

MeshBuilder::MeshBuilder(MeshGeometry& meshGeometry, const MeshRecord* mesh, bool flatShading,
                         SoSeparator* coordinates)
    : geometry(meshGeometry), coordinateParent(coordinates) {
    geometry.reset(mesh, flatShading);
}

MeshBuilder::~MeshBuilder() = default;

// The sets are filled in arrays of their own, which the nodes then take: a
// field sized first would clear its array only for it to be overwritten.
void MeshBuilder::buildGeometry(int materialGroupIndex, int shading, SoSeparator* faceSetParent) {
    faces.clear();
    geometry.groupFaces(materialGroupIndex, shading, faces);
    buildGeometry(geometry.mesh(), faces, coordinateParent, faceSetParent);
}

void MeshBuilder::buildGeometry(const MeshRecord* mesh, GroupFaces& faces, SoSeparator* coordinates,
                                SoSeparator* faceSetParent) {
    buildCoordinates(mesh, coordinates);
    for (size_t i = 0; i < faces.size(); ++i) {
        FaceSetData& set = faces.set(i);
        SoMFVec3f* normals;
        SoMFInt32* indices;
        faceSetParent->addChild(groupSeparator(set.perVertex, normals, indices));
        handOver(*normals, set.faceCount * (set.perVertex ? 3 : 1), set.normals, set.normalCapacity);
        handOver(*indices, 4 * set.faceCount, set.coordIndex, set.indexCapacity);
    }
}

}  // namespace kestrav
