#include "reader/ModelDatabase.h"

#include <cstring>

#include "reader/ChunkWalk.h"
#include "reader/ModelFile.h"

namespace kestrav {

bool ModelDatabase::readDatabase(const void* bytes, size_t size) {
    // A new read replaces the model before.
    releaseDatabase();
    WalkEnd end = WalkEnd::Complete;
    if (!walkChunks(static_cast<const uint8_t*>(bytes), int64_t(size), lists, end)) {
        lists.release();
        return false;
    }
    lastEnd = end;
    return true;
}

bool ModelDatabase::readDatabase(const char* fileName) {
    if (!fileName || fileName[0] == 0) return false;
    const ModelFile file = readModelFile(fileName);
    if (file.kind == ModelFileKind::CannotRead || file.kind == ModelFileKind::OutOfMemory) return false;
    return readDatabase(file.bytes.get(), file.size);
}

WalkEnd ModelDatabase::lastWalkEnd() const { return lastEnd; }

const KeyframeNode* ModelDatabase::findTaggedNode(const char* name, uint16_t tag) const {
    const KeyframeList& keyframes = lists.keyframeList();
    for (size_t i = 0; i < keyframes.count; ++i) {
        const KeyframeNode& node = keyframes.nodes[i];
        if (node.tag == tag && (!name || std::strncmp(node.name, name, sizeof node.name) == 0)) return &node;
    }
    return nullptr;
}

const MaterialRecord* ModelDatabase::findMaterial(const char* name) const {
    const MaterialList& materials = lists.materialList();
    for (size_t i = 0; i < materials.count; ++i)
        if (std::strcmp(materials.names[i], name) == 0) return &materials.records[i];
    return nullptr;
}

void ModelDatabase::releaseDatabase() { lists.release(); }

}  // namespace kestrav
