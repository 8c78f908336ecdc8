#include "reader/ModelDatabase.h"

#include <cstring>

#include "reader/ChunkWalk.h"
#include "reader/ModelFile.h"

namespace kestrav {

namespace {

// name "." instanceName, also when the instance name is empty.
void dottedName(const KeyframeNode& node, char (&out)[kFullNameSize]) {
    const size_t nameLength = strnlen(node.name, sizeof node.name - 1);
    const size_t instanceLength = strnlen(node.instanceName, sizeof node.instanceName - 1);
    std::memcpy(out, node.name, nameLength);
    out[nameLength] = '.';
    std::memcpy(out + nameLength + 1, node.instanceName, instanceLength);
    out[nameLength + 1 + instanceLength] = 0;
}

}  // namespace

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

const MeshRecord* ModelDatabase::findMesh(const char* name) const {
    const MeshList& meshes = lists.meshList();
    for (size_t i = 0; i < meshes.count; ++i)
        if (std::strcmp(meshes.names[i], name) == 0) return &meshes.records[i];
    return nullptr;
}

const MaterialRecord* ModelDatabase::findMaterial(const char* name) const {
    const MaterialList& materials = lists.materialList();
    for (size_t i = 0; i < materials.count; ++i)
        if (std::strcmp(materials.names[i], name) == 0) return &materials.records[i];
    return nullptr;
}

const KeyframeNode* ModelDatabase::lookupNode(const char* name) const {
    const KeyframeList& keyframes = lists.keyframeList();
    // Dummies are all named "$$$DUMMY"; only their instance names tell them apart.
    const bool dummy = std::strstr(name, "$$$DUMMY") != nullptr;
    for (size_t i = 0; i < keyframes.count; ++i) {
        const KeyframeNode& node = keyframes.nodes[i];
        bool equal;
        if (dummy || node.instanceName[0] != 0) {
            char dotted[kFullNameSize];
            dottedName(node, dotted);
            equal = std::strcmp(name, dotted) == 0;
        } else {
            equal = std::strcmp(name, node.name) == 0;
        }
        if (equal) return &node;
    }
    return nullptr;
}

const KeyframeNode* ModelDatabase::findNode(const char* name, size_t index) const {
    const KeyframeList& keyframes = lists.keyframeList();
    size_t seen = 0;
    for (size_t i = 0; i < keyframes.count; ++i) {
        if (std::strcmp(keyframes.nodes[i].name, name) != 0) continue;
        if (seen++ == index) return &keyframes.nodes[i];
    }
    return lookupNode(name);
}

size_t ModelDatabase::countNodes(const char* name) const {
    const KeyframeList& keyframes = lists.keyframeList();
    size_t count = 0;
    for (size_t i = 0; i < keyframes.count; ++i)
        if (std::strcmp(keyframes.nodes[i].name, name) == 0) ++count;
    return count;
}

void ModelDatabase::releaseDatabase() { lists.release(); }

}  // namespace kestrav
