#include "reader/ModelDatabase.h"

#include <cstring>

#include "reader/ChunkWalk.h"

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

int ModelDatabase::readDatabase(const char* fileName) {
    if (!fileName || fileName[0] == 0) return 0;
    FILE* file = std::fopen(fileName, "rb");
    if (!file) return 0;
    const int result = readDatabaseFrom(file);
    std::fclose(file);
    return result;
}

int ModelDatabase::readDatabaseFrom(FILE* file) {
    // A new read replaces the model before.
    releaseDatabase();
    if (std::fseek(file, 0, SEEK_END) != 0) return 0;
    const long fileSize = std::ftell(file);
    if (fileSize < 0 || std::fseek(file, 0, SEEK_SET) != 0) return 0;

    WalkEnd end = WalkEnd::Complete;
    if (!walkChunks(file, fileSize, lists, end)) {
        lists.release();
        return 0;
    }
    hasModel = true;
    lastEnd = end;
    return 1;
}

WalkEnd ModelDatabase::lastWalkEnd() const { return lastEnd; }

// The queries have always been const and handed out records the caller may
// change; the records belong to the model, not to the database's own state.
void ModelDatabase::getMeshList(MeshList*& out) const {
    out = hasModel ? const_cast<MeshList*>(&lists.meshList()) : nullptr;
}

void ModelDatabase::getMaterialList(MaterialList*& out) const {
    out = hasModel ? const_cast<MaterialList*>(&lists.materialList()) : nullptr;
}

void ModelDatabase::getKeyframeList(KeyframeList*& out) const {
    out = hasModel ? const_cast<KeyframeList*>(&lists.keyframeList()) : nullptr;
}

void ModelDatabase::getLightingList(LightingList*& out) const {
    out = hasModel ? const_cast<LightingList*>(&lists.lightingList()) : nullptr;
}

const KeyframeNode* ModelDatabase::findTaggedNode(const char* name, uint16_t tag) const {
    KeyframeList* keyframes;
    getKeyframeList(keyframes);
    for (int i = 0; keyframes && i < keyframes->count; ++i) {
        const KeyframeNode& node = keyframes->nodes[i];
        if (node.tag == tag && (!name || std::strncmp(node.name, name, sizeof node.name) == 0)) return &node;
    }
    return nullptr;
}

void ModelDatabase::findMesh(const char* name, MeshRecord*& out) const {
    out = nullptr;
    MeshList* meshes;
    getMeshList(meshes);
    if (!meshes) return;
    for (int i = 0; i < meshes->count; ++i) {
        if (std::strcmp(meshes->names[i], name) == 0) {
            out = &meshes->records[i];
            return;
        }
    }
}

void ModelDatabase::findMaterial(const char* name, MaterialRecord*& out) const {
    out = nullptr;
    MaterialList* materials;
    getMaterialList(materials);
    if (!materials) return;
    for (int i = 0; i < materials->count; ++i) {
        if (std::strcmp(materials->names[i], name) == 0) {
            out = &materials->records[i];
            return;
        }
    }
}

void ModelDatabase::lookupNode(const char* name, KeyframeNode*& out) const {
    out = nullptr;
    KeyframeList* keyframes;
    getKeyframeList(keyframes);
    if (!keyframes) return;
    // Dummies are all named "$$$DUMMY"; only their instance names tell them apart.
    const bool dummy = std::strstr(name, "$$$DUMMY") != nullptr;
    for (int i = 0; i < keyframes->count; ++i) {
        KeyframeNode& node = keyframes->nodes[i];
        bool equal;
        if (dummy || node.instanceName[0] != 0) {
            char dotted[kFullNameSize];
            dottedName(node, dotted);
            equal = std::strcmp(name, dotted) == 0;
        } else {
            equal = std::strcmp(name, node.name) == 0;
        }
        if (equal) {
            out = &node;
            return;
        }
    }
}

void ModelDatabase::findNode(const char* name, int j, KeyframeNode*& out) const {
    KeyframeList* keyframes;
    getKeyframeList(keyframes);
    int seen = 0;
    for (int i = 0; keyframes && i < keyframes->count; ++i) {
        if (std::strcmp(keyframes->nodes[i].name, name) != 0) continue;
        if (seen++ == j) {
            out = &keyframes->nodes[i];
            return;
        }
    }
    lookupNode(name, out);
}

int ModelDatabase::countNodes(const char* name) const {
    KeyframeList* keyframes;
    getKeyframeList(keyframes);
    int count = 0;
    for (int i = 0; keyframes && i < keyframes->count; ++i)
        if (std::strcmp(keyframes->nodes[i].name, name) == 0) ++count;
    return count;
}

void ModelDatabase::releaseDatabase() {
    lists.release();
    hasModel = false;
}

}  // namespace kestrav
