#include "geometry/MeshBuilder.h"

#include <Inventor/SbVec3f.h>
#include <Inventor/lists/SbIntList.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoNormalBinding.h>
#include <Inventor/nodes/SoSeparator.h>

#include <cstdlib>
#include <vector>

#include "geometry/NormalCalculator.h"
#include "geometry/VertexFaceTable.h"

namespace kestrav {

namespace {
// Group 0 holds the faces without smoothing group; 1..32 are the mask bits.
constexpr int kGroupCount = 33;
constexpr int kIntsPerFace = 4;

// A group separator with its normal binding and a normal node of count
// vectors, which the caller fills in place between startEditing and
// finishEditing rather than copying them in from an array of its own.
SoSeparator* groupSeparatorWithNormals(SoNormalBinding::Binding binding, int count, SoMFVec3f*& vectors) {
    SoSeparator* groupSeparator = new SoSeparator;
    SoNormalBinding* normalBinding = new SoNormalBinding;
    normalBinding->value = binding;
    groupSeparator->addChild(normalBinding);
    SoNormal* normal = new SoNormal;
    normal->vector.setNum(count);
    groupSeparator->addChild(normal);
    vectors = &normal->vector;
    return groupSeparator;
}
}  // namespace

MeshBuilder::MeshBuilder(const MeshRecord* mesh, bool flatShading, SoSeparator* coordinates)
    : currentMesh(mesh), flat(flatShading), coordinateParent(coordinates) {
    vertexFaceTable = new VertexFaceTable(currentMesh);
    vertexFaceTable->fill();
    computeFaceNormals();
}

// Every vertex normal sums the normals of the faces around it; computing each
// once per instance saves doing it again at each of its corners and groups.
void MeshBuilder::computeFaceNormals() {
    const int faces = vertexFaceTable->faceCount();
    faceNormalCache.assign(size_t(faces) * 3, 0.0f);
    const float* vertices = currentMesh ? currentMesh->vertices : nullptr;
    for (int f = 0; f < faces; ++f) {
        if (!vertexFaceTable->isUsableFace(f)) continue;
        const MeshFace& face = currentMesh->faces[f];
        NormalCalculator::faceNormal(vertices + 3 * face.a, vertices + 3 * face.b, vertices + 3 * face.c,
                                     &faceNormalCache[size_t(f) * 3]);
    }
}

MeshBuilder::~MeshBuilder() {
    delete vertexFaceTable;
    vertexFaceTable = nullptr;
}

void MeshBuilder::buildGeometry(int materialGroupIndex, int shading, SoSeparator* faceSetParent) {
    buildCoordinates();

    const uint16_t* selection = nullptr;
    int selected = vertexFaceTable->faceCount();
    if (currentMesh && currentMesh->materialGroupCount != 0) {
        selected = 0;
        if (currentMesh->materialGroups && materialGroupIndex >= 0 &&
            materialGroupIndex < currentMesh->materialGroupCount) {
            const MaterialGroup& group = currentMesh->materialGroups[materialGroupIndex];
            selection = group.faces;
            if (selection) selected = group.faceCount;
        }
    }
    if (selected == 0) return;

    // Every list has room for all selected faces, so partitioning never grows one.
    const size_t stride = size_t(selected) * kIntsPerFace;
    int32_t* lists = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * stride * kGroupCount));
    if (!lists) return;
    int counts[kGroupCount] = {};

    for (int i = 0; i < selected; ++i) {
        const int f = selection ? selection[i] : i;
        // A face naming a missing vertex, or a group naming a missing face, is not drawn.
        if (!vertexFaceTable->isUsableFace(f)) continue;
        const MeshFace& face = currentMesh->faces[f];
        const SbIntList& groups = *vertexFaceTable->groupsOfFace(f);
        for (int j = 0; j < groups.getLength(); ++j) {
            const int g = groups[j];
            int32_t* out = lists + g * stride + counts[g] * kIntsPerFace;
            out[0] = face.a;
            out[1] = face.b;
            out[2] = face.c;
            out[3] = -1;
            ++counts[g];
        }
    }

    const NormalCalculator normals(*vertexFaceTable, faceNormalCache.data());
    if (counts[0] != 0) buildFaceNormalGroup(lists, counts[0], faceSetParent);
    const bool facetted = shading == 1 || flat;
    for (int g = 1; g < kGroupCount; ++g) {
        if (counts[g] == 0) continue;
        if (facetted)
            buildFaceNormalGroup(lists + g * stride, counts[g], faceSetParent);
        else
            buildVertexNormalGroup(lists + g * stride, counts[g], uint32_t(g), normals, faceSetParent);
    }
    std::free(lists);
}

void MeshBuilder::buildCoordinates() {
    SoCoordinate3* coordinates = new SoCoordinate3;
    const int count = vertexFaceTable->vertexCount();
    coordinates->point.setNum(count);
    if (count != 0)
        coordinates->point.setValues(0, count, reinterpret_cast<const float(*)[3]>(currentMesh->vertices));
    // Coin cannot read back an infinity or a not-a-number; no face uses these
    // vertices, so the origin keeps the indices of the others.
    if (vertexFaceTable->hasNonFiniteVertices()) {
        SbVec3f* points = coordinates->point.startEditing();
        for (int v = 0; v < count; ++v)
            if (!vertexFaceTable->isFiniteVertex(v)) points[v].setValue(0.0f, 0.0f, 0.0f);
        coordinates->point.finishEditing();
    }
    coordinateParent->addChild(coordinates);
}

void MeshBuilder::buildFaceNormalGroup(const int32_t* list, int faceCount, SoSeparator* faceSetParent) {
    SoMFVec3f* field;
    SoSeparator* groupSeparator = groupSeparatorWithNormals(SoNormalBinding::PER_FACE, faceCount, field);
    SbVec3f* vectors = field->startEditing();
    const float* vertices = currentMesh->vertices;
    for (int i = 0; i < faceCount; ++i) {
        const int32_t* face = list + i * kIntsPerFace;
        float n[3];
        NormalCalculator::faceNormal(vertices + 3 * face[0], vertices + 3 * face[1], vertices + 3 * face[2], n);
        vectors[i].setValue(n);
    }
    field->finishEditing();
    buildFaceSet(list, groupSeparator, faceCount, faceSetParent);
}

void MeshBuilder::buildVertexNormalGroup(const int32_t* list, int faceCount, uint32_t group,
                                         const NormalCalculator& normals, SoSeparator* faceSetParent) {
    SoMFVec3f* field;
    SoSeparator* groupSeparator = groupSeparatorWithNormals(SoNormalBinding::PER_VERTEX, 3 * faceCount, field);
    SbVec3f* vectors = field->startEditing();
    // A vertex's normal within one group is the same at every corner that uses
    // it; computing it once per vertex keeps a fan of thousands of faces around
    // one vertex linear instead of quadratic.
    std::vector<int> firstCorner(vertexFaceTable->vertexCount(), -1);
    for (int i = 0; i < 3 * faceCount; ++i) {
        const int vertex = list[i / 3 * kIntsPerFace + i % 3];
        int& first = firstCorner[size_t(vertex)];
        if (first >= 0) {
            vectors[i] = vectors[first];
            continue;
        }
        float n[3];
        normals.vertexNormal(vertex, group, n);
        vectors[i].setValue(n);
        first = i;
    }
    field->finishEditing();
    buildFaceSet(list, groupSeparator, faceCount, faceSetParent);
}

void MeshBuilder::buildFaceSet(const int32_t* list, SoSeparator* groupSeparator, int faceCount,
                               SoSeparator* faceSetParent) {
    SoIndexedFaceSet* faceSet = new SoIndexedFaceSet;
    faceSet->coordIndex.setNum(kIntsPerFace * faceCount);
    faceSet->coordIndex.setValues(0, kIntsPerFace * faceCount, list);
    groupSeparator->addChild(faceSet);
    faceSetParent->addChild(groupSeparator);
}

}  // namespace kestrav
