#include "geometry/VertexFaceTable.h"

#include <Inventor/lists/SbIntList.h>

#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "reader/FiniteValues.h"
#include "reader/ModelRecords.h"

namespace kestrav {

VertexFaceList::VertexFaceList() : capacity(4), count(0), entries(inlineEntries), inlineEntries() {}

VertexFaceList::~VertexFaceList() {
    if (entries != inlineEntries) std::free(entries);
}

void VertexFaceList::append(uint32_t mask, int32_t face) {
    if (count == capacity) {
        if (capacity > INT32_MAX / 2) throw std::bad_alloc();
        const int32_t grown = capacity * 2;
        VertexFaceEntry* block = static_cast<VertexFaceEntry*>(std::malloc(sizeof(VertexFaceEntry) * size_t(grown)));
        if (!block) throw std::bad_alloc();
        std::memcpy(block, entries, sizeof(VertexFaceEntry) * size_t(count));
        if (entries != inlineEntries) std::free(entries);
        entries = block;
        capacity = grown;
    }
    entries[count].mask = mask;
    entries[count].face = face;
    ++count;
}

VertexFaceTable::VertexFaceTable(const MeshRecord* meshRecord) : mesh(nullptr) { reset(meshRecord); }

void VertexFaceTable::reset(const MeshRecord* meshRecord) {
    mesh = meshRecord;
    anyNonFinite = false;
    const int vertices = vertexCount();
    if (size_t(vertices) > listCapacity) {
        // The old lists go first, so the two are never held at once.
        lists.reset();
        listCapacity = 0;
        lists.reset(new VertexFaceList[size_t(vertices)]);
        listCapacity = size_t(vertices);
    } else {
        for (int v = 0; v < vertices; ++v) lists[v].clear();
    }
    for (int v = 0; v < vertices; ++v) {
        const float* p = mesh->vertices + 3 * v;
        if (allFinite(p, 3)) continue;
        if (!anyNonFinite) nonFinite.assign(size_t(vertices), false);
        anyNonFinite = true;
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
    bool crowded = false;  // some vertex has more entries than are merged in turn
    for (int f = 0; f < faces; ++f) {
        if (!isUsableFace(f)) continue;
        const uint32_t mask = smoothingMask(f);
        const MeshFace& face = mesh->faces[f];
        for (uint16_t v : {face.a, face.b, face.c}) {
            VertexFaceList& list = lists[v];
            const int32_t n = list.getCount();
            list.append(mask, f);
            if (n < kEntriesMergedInTurn)
                mergeMasks(list, n);
            else
                crowded = true;
        }
    }
    if (!crowded) return;
    const int vertices = vertexCount();
    for (int v = 0; v < vertices; ++v)
        if (lists[v].getCount() > kEntriesMergedInTurn) mergeMasksFrom(lists[v], kEntriesMergedInTurn);
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

// The same merge, with the earlier entries kept as classes of equal masks,
// which stay equal: a class overlaps a new entry whole or not at all, and the
// last overlapping entry is the latest of the overlapping classes. Past the
// entries merged already, which make at most one class each, a new class
// starts only with an entry that overlaps no mask, so one bit more is in use:
// there are at most 32 such classes (mask 0 never overlaps and never changes,
// so needs none). Each entry costs at most a step a class however many faces
// the vertex has.
void VertexFaceTable::mergeMasksFrom(VertexFaceList& list, int32_t first) {
    constexpr uint32_t kNoClass = UINT32_MAX;
    constexpr int32_t kMostClasses = 32 + kEntriesMergedInTurn;
    uint32_t classMask[kMostClasses];
    int32_t classLast[kMostClasses];  // the latest entry in the class
    uint32_t classes = 0;
    const int32_t count = list.getCount();
    // While merging, an entry's mask field holds its class.
    for (int32_t j = 0; j < count; ++j) {
        VertexFaceEntry& entry = list.item(j);
        const uint32_t a = entry.mask;
        uint32_t chosen = kNoClass;
        if (j < first) {
            // Merged already: it joins the class of its mask.
            for (uint32_t c = 0; c < classes && chosen == kNoClass; ++c)
                if (classMask[c] == a) chosen = c;
        } else {
            for (uint32_t c = 0; c < classes; ++c) {
                if ((classMask[c] & a) == 0) continue;
                classMask[c] |= a;
                if (chosen == kNoClass || classLast[c] > classLast[chosen]) chosen = c;
            }
        }
        if (a == 0) {
            entry.mask = kNoClass;
            continue;
        }
        if (chosen == kNoClass) {
            chosen = classes++;
            classMask[chosen] = a;
        }
        classLast[chosen] = j;
        entry.mask = chosen;
    }
    for (int32_t j = 0; j < count; ++j) {
        VertexFaceEntry& entry = list.item(j);
        entry.mask = entry.mask == kNoClass ? 0 : classMask[entry.mask];
    }
}

}  // namespace kestrav
