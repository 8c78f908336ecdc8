#include "geometry/VertexFaceTable.h"

#include <Inventor/lists/SbIntList.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "reader/FiniteValues.h"
#include "reader/ModelRecords.h"

namespace kestrav {

VertexFaceList::VertexFaceList() : capacity(4), count(0), entries(inlineEntries), inlineEntries() {}

VertexFaceList::~VertexFaceList() {
    if (entries != inlineEntries) std::free(entries);
}

bool VertexFaceList::append(uint32_t mask, int32_t face) {
    if (count == capacity) {
        if (capacity > INT32_MAX / 2) return false;
        const int32_t grown = capacity * 2;
        VertexFaceEntry* block = static_cast<VertexFaceEntry*>(std::malloc(sizeof(VertexFaceEntry) * size_t(grown)));
        if (!block) return false;
        std::memcpy(block, entries, sizeof(VertexFaceEntry) * size_t(count));
        if (entries != inlineEntries) std::free(entries);
        entries = block;
        capacity = grown;
    }
    entries[count].mask = mask;
    entries[count].face = face;
    ++count;
    return true;
}

VertexFaceTable::VertexFaceTable(const MeshRecord* meshRecord) : mesh(meshRecord) {
    const int vertices = vertexCount();
    if (vertices != 0) lists.reset(new VertexFaceList[size_t(vertices)]);
    for (int v = 0; v < vertices; ++v) {
        const float* p = mesh->vertices + 3 * v;
        if (allFinite(p, 3)) continue;
        if (!nonFinite) nonFinite.reset(new bool[size_t(vertices)]());
        nonFinite[size_t(v)] = true;
    }
}

VertexFaceTable::~VertexFaceTable() = default;

uint32_t VertexFaceTable::smoothingMask(int face) const {
    if (!mesh || !mesh->smoothingGroups || face < 0 || face >= faceCount()) return 0;
    return mesh->smoothingGroups[face];
}

SbIntList* VertexFaceTable::groupsOfFace(int face) {
    if (!groupList) groupList.reset(new SbIntList);
    groupList->truncate(0);
    uint32_t mask = smoothingMask(face);
    if (mask == 0) groupList->append(0);
    for (int i = 0; mask != 0; ++i, mask >>= 1)
        if (mask & 1u) groupList->append(i + 1);
    return groupList.get();
}

void VertexFaceTable::fill() {
    const int faces = faceCount();
    for (int f = 0; f < faces; ++f) {
        if (!isUsableFace(f)) continue;
        const uint32_t mask = smoothingMask(f);
        const MeshFace& face = mesh->faces[f];
        for (uint16_t v : {face.a, face.b, face.c}) {
            VertexFaceList& list = lists[v];
            const int32_t n = list.getCount();
            if (list.append(mask, f)) mergeMasks(list, n);
        }
    }
}

// Entry n takes the bits of each overlapping earlier entry by assignment, so
// only the last overlap leaves its extra bits in it; the earlier entries gain
// only the new face's own mask. The written normals depend on this exact order.
void VertexFaceTable::mergeMasks(VertexFaceList& list, int32_t n) {
    const uint32_t a = list.item(n).mask;
    for (int32_t i = 0; i < n; ++i) {
        VertexFaceEntry& earlier = list.item(i);
        if ((a & earlier.mask) != 0) {
            earlier.mask |= a;
            list.item(n).mask = a | earlier.mask;
        }
    }
}

}  // namespace kestrav
