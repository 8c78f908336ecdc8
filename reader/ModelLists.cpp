#include "reader/ModelLists.h"

#include <cstdlib>
#include <cstring>

namespace kestrav {

namespace {

MeshList* meshes = nullptr;
MaterialList* materials = nullptr;
KeyframeList* keyframes = nullptr;

long allocationsLeft = -1;

// Copies at most size - 1 bytes and always terminates.
template <size_t size>
void copyName(char (&out)[size], const char* name) {
    size_t n = 0;
    while (n + 1 < size && name[n] != 0) {
        out[n] = name[n];
        ++n;
    }
    std::memset(out + n, 0, size - n);
}

// Makes room for count elements; on failure the block is untouched.
template <class T>
bool growTo(T*& block, int32_t count) {
    void* grown = modelGrow(block, sizeof(T), count);
    if (!grown) return false;
    block = static_cast<T*>(grown);
    return true;
}

void freeNodeArrays(KeyframeNode& node) {
    std::free(node.positionValues);
    node.positionValues = nullptr;
    std::free(node.positionKeys);
    node.positionKeys = nullptr;
    std::free(node.rotationValues);
    node.rotationValues = nullptr;
    std::free(node.rotationKeys);
    node.rotationKeys = nullptr;
    std::free(node.scaleValues);
    node.scaleValues = nullptr;
    std::free(node.scaleKeys);
    node.scaleKeys = nullptr;
    std::free(node.hideFrames);
    node.hideFrames = nullptr;
}

void freeMeshArrays(MeshRecord& mesh) {
    std::free(mesh.vertices);
    std::free(mesh.vertexFlags);
    std::free(mesh.faces);
    for (int g = 0; g < mesh.materialGroupCount; ++g) std::free(mesh.materialGroups[g].faces);
    std::free(mesh.materialGroups);
    std::free(mesh.smoothingGroups);
    std::free(mesh.texCoords);
}

}  // namespace

void initMeshRecord(MeshRecord& mesh, const char* name) {
    std::memset(&mesh, 0, sizeof mesh);
    copyName(mesh.name, name);
}

void initMapRecord(MapRecord& map) {
    std::memset(&map, 0, sizeof map);
    map.tilingMode = 1;
    map.uScale = 1.0f;
    map.vScale = 1.0f;
    // No chunk sets the blend mode: every map modulates the lit surface.
    map.blendMode = 1;
}

void initMaterialRecord(MaterialRecord& material, const char* name) {
    std::memset(&material, 0, sizeof material);
    copyName(material.name, name);
    material.shininess = 1.0f;
    material.wireSize = 1.0f;
    material.shading = 1;
    initMapRecord(material.textureMap);
    initMapRecord(material.bumpMap);
}

void initKeyframeNode(KeyframeNode& node) {
    std::memset(&node, 0, sizeof node);
    node.id = 0xFFFF;
    node.parentId = 0xFFFF;
}

void fullName(const KeyframeNode& node, char (&out)[kFullNameSize]) {
    const size_t nameLength = strnlen(node.name, sizeof node.name - 1);
    std::memcpy(out, node.name, nameLength);
    size_t n = nameLength;
    if (node.instanceName[0] != 0) {
        const size_t instanceLength = strnlen(node.instanceName, sizeof node.instanceName - 1);
        out[n++] = '.';
        std::memcpy(out + n, node.instanceName, instanceLength);
        n += instanceLength;
    }
    out[n] = 0;
}

MeshList* currentMeshList() { return meshes; }
MaterialList* currentMaterialList() { return materials; }
KeyframeList* currentKeyframeList() { return keyframes; }

bool createLists(FILE* file) {
    meshes = static_cast<MeshList*>(modelMalloc(sizeof(MeshList)));
    materials = static_cast<MaterialList*>(modelMalloc(sizeof(MaterialList)));
    keyframes = static_cast<KeyframeList*>(modelMalloc(sizeof(KeyframeList)));
    if (!meshes || !materials || !keyframes) {
        std::free(meshes);
        std::free(materials);
        std::free(keyframes);
        meshes = nullptr;
        materials = nullptr;
        keyframes = nullptr;
        return false;
    }
    *meshes = MeshList{nullptr, 0, nullptr, file};
    *materials = MaterialList{nullptr, 0, nullptr, file, kNoColour, kNoProperty};
    *keyframes = KeyframeList{0, nullptr, file, 0, 0, 0, 0, 0};
    return true;
}

bool appendMesh(const char* name) {
    const int32_t count = meshes->count + 1;
    if (!growTo(meshes->names, count) || !growTo(meshes->records, count)) return false;
    copyName(meshes->names[count - 1], name);
    initMeshRecord(meshes->records[count - 1], name);
    meshes->count = count;
    return true;
}

bool appendMaterial(const char* name) {
    const int32_t count = materials->count + 1;
    if (!growTo(materials->names, count) || !growTo(materials->records, count)) return false;
    copyName(materials->names[count - 1], name);
    initMaterialRecord(materials->records[count - 1], name);
    materials->count = count;
    return true;
}

bool appendNode(bool hasId, uint16_t id) {
    const int32_t count = keyframes->count + 1;
    if (!growTo(keyframes->nodes, count)) return false;
    KeyframeNode& node = keyframes->nodes[count - 1];
    initKeyframeNode(node);
    node.id = hasId ? id : uint16_t(count - 1);
    keyframes->count = count;
    keyframes->nodeOpen = 1;
    return true;
}

void releaseLists() {
    if (keyframes) {
        for (int i = 0; i < keyframes->count; ++i) freeNodeArrays(keyframes->nodes[i]);
        std::free(keyframes->nodes);
        std::free(keyframes);
        keyframes = nullptr;
    }
    if (materials) {
        std::free(materials->names);
        std::free(materials->records);
        std::free(materials);
        materials = nullptr;
    }
    if (meshes) {
        if (meshes->records)
            for (int i = 0; i < meshes->count; ++i) freeMeshArrays(meshes->records[i]);
        std::free(meshes->records);
        std::free(meshes->names);
        std::free(meshes);
        meshes = nullptr;
    }
}

void* modelMalloc(size_t bytes) { return modelRealloc(nullptr, bytes); }

void* modelRealloc(void* block, size_t bytes) {
    if (allocationsLeft == 0) return nullptr;
    if (allocationsLeft > 0) --allocationsLeft;
    return std::realloc(block, bytes);
}

void* modelGrow(void* block, size_t elementSize, int32_t count) {
    size_t room = 1;
    while (room < size_t(count)) room *= 2;
    // count - 1 elements already fit in the room rounded up for them.
    if (block && count > 1 && size_t(count - 1) * 2 > room) return block;
    return modelRealloc(block, elementSize * room);
}

void failAllocationsAfter(long count) { allocationsLeft = count < 0 ? -1 : count; }

}  // namespace kestrav
