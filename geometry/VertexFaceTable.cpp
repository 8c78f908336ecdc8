#include "geometry/VertexFaceTable.h"

#include <Inventor/lists/SbIntList.h>

#include <initializer_list>

#include "reader/FiniteValues.h"
#include "reader/ModelRecords.h"

namespace kestrav {

VertexFaceTable::VertexFaceTable(const MeshRecord* meshRecord) : mesh(nullptr) { reset(meshRecord); }

void VertexFaceTable::reset(const MeshRecord* meshRecord) {
    mesh = meshRecord;
    anyNonFinite = false;
    const int vertices = vertexCount();
    firstEntry.assign(size_t(vertices) + 1, 0);
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
    const int vertices = vertexCount();
    // Counted first, each vertex's count one place on, so that adding them up
    // in turn leaves where each vertex's list starts.
    for (int f = 0; f < faces; ++f) {
        if (!isUsableFace(f)) continue;
        const MeshFace& face = mesh->faces[f];
        ++firstEntry[size_t(face.a) + 1];
        ++firstEntry[size_t(face.b) + 1];
        ++firstEntry[size_t(face.c) + 1];
    }
    for (int v = 0; v < vertices; ++v) firstEntry[size_t(v) + 1] += firstEntry[size_t(v)];
    const size_t total = size_t(firstEntry[size_t(vertices)]);
    if (total > entryCapacity) {
        // The old array goes first, so the two are never held at once.
        entries.reset();
        entryCapacity = 0;
        entries.reset(new VertexFaceEntry[total]);
        entryCapacity = total;
    }
    nextEntry.assign(firstEntry.begin(), firstEntry.end() - 1);

    bool crowded = false;  // some vertex has more entries than are merged in turn
    for (int f = 0; f < faces; ++f) {
        if (!isUsableFace(f)) continue;
        const uint32_t mask = smoothingMask(f);
        const MeshFace& face = mesh->faces[f];
        for (uint16_t v : {face.a, face.b, face.c}) {
            const int32_t first = firstEntry[v];
            const int32_t n = nextEntry[v]++ - first;
            VertexFaceEntry* list = entries.get() + first;
            list[n].mask = mask;
            list[n].face = f;
            if (n < kEntriesMergedInTurn)
                mergeMasks(list, n);
            else
                crowded = true;
        }
    }
    if (!crowded) return;
    for (int v = 0; v < vertices; ++v)
        if (list(v).getCount() > kEntriesMergedInTurn) mergeMasksFrom(list(v), kEntriesMergedInTurn);
}

// Entry n takes the bits of each overlapping earlier entry by assignment, so
// only the last overlap leaves its extra bits in it; the earlier entries gain
// only the new face's own mask. The written normals depend on this exact order.
void VertexFaceTable::mergeMasks(VertexFaceEntry* entries, int32_t n) {
    const uint32_t a = entries[n].mask;
    for (int32_t i = 0; i < n; ++i) {
        VertexFaceEntry& earlier = entries[i];
        if ((a & earlier.mask) != 0) {
            earlier.mask |= a;
            entries[n].mask = a | earlier.mask;
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
void VertexFaceTable::mergeMasksFrom(VertexFaceList list, int32_t first) {
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
