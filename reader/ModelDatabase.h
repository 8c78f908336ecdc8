#pragma once

#include <cstddef>
#include <cstdint>

#include "reader/ModelLists.h"
#include "reader/ModelRecords.h"

namespace kestrav {

// How the last walk over a file ended. Anything but Complete means the file is
// damaged. Damage inside a chunk whose length is sound costs only that chunk;
// damage to the chunk framing ends the walk, and only the records read before
// it are in the lists.
enum class WalkEnd {
    Complete,
    // Read to the end, but a chunk too short for its fields or its count, or
    // holding a number that is not finite where one must be, was left out (a
    // vertex that is not finite is kept for the mesh builder to leave out).
    DamagedChunksSkipped,
    Truncated,       // the file ends inside a chunk header or payload
    BadChunkLength,  // a length below 6, or one that moves past 2^31 - 1
};

// One model read from a file: its mesh, material, keyframer and lighting
// lists belong to this object, so each conversion in a process has its own.
// The lists and the records they hand out live until the next read or the
// release.
class ModelDatabase {
public:
    ModelDatabase() = default;
    ModelDatabase(const ModelDatabase&) = delete;
    ModelDatabase& operator=(const ModelDatabase&) = delete;

    // Walks the size bytes of a model, which the walk only reads and which
    // may go once it returns: true when they were walked (completely or up to
    // damage), false when memory ran out, and then the lists are empty. A
    // read replaces the model read before it.
    bool readDatabase(const void* bytes, size_t size);
    // The same walk over the file at fileName, read whole first; false too
    // when the file cannot be read, and then the model before stays.
    bool readDatabase(const char* fileName);
    // How this object's last successful walk ended.
    WalkEnd lastWalkEnd() const;

    // The lists of the model read; empty before the first read, after a failed
    // one and after the release. Records stay where they are until then.
    const MeshList& meshList() const { return lists.meshList(); }
    const MaterialList& materialList() const { return lists.materialList(); }
    const KeyframeList& keyframeList() const { return lists.keyframeList(); }
    const LightingList& lightingList() const { return lists.lightingList(); }

    // The first material named name in file order, or null.
    const MaterialRecord* findMaterial(const char* name) const;
    // The first keyframer node of the given kind (CAMERA_NODE_TAG, ...) for
    // the object name (any name when null), or null.
    const KeyframeNode* findTaggedNode(const char* name, uint16_t tag) const;

    // Frees the arrays of the index-th mesh once its scene holds what they
    // held: it is then a mesh without vertices or faces, with its name and matrix.
    void releaseMeshGeometry(size_t index) { lists.releaseMeshGeometry(index); }
    // Frees the model; the destructor does too. May be called any number of times.
    void releaseDatabase();

private:
    ModelLists lists;
    WalkEnd lastEnd = WalkEnd::Complete;
};

}  // namespace kestrav
