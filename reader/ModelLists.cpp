#include "reader/ModelLists.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "reader/ModelMemory.h"

namespace kestrav {

namespace {

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
    for (Track* track : {&node.fieldOfView, &node.roll, &node.colour, &node.hotspot, &node.falloff}) {
        std::free(track->keys);
        std::free(track->values);
        *track = Track{0, nullptr, nullptr};
    }
    std::free(node.hideFrames);
    node.hideFrames = nullptr;
    node.hideKeyCount = 0;
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

template <class T>
bool ModelLists::growTo(T*& block, size_t count) {
    // On failure the block is untouched.
    void* grown = grow(block, sizeof(T), count);
    if (!grown) return false;
    block = static_cast<T*>(grown);
    return true;
}

bool ModelLists::appendMesh(const char* name) {
    const size_t count = meshes.count + 1;
    if (!growTo(meshes.names, count) || !growTo(meshes.records, count)) return false;
    copyName(meshes.names[count - 1], name);
    initMeshRecord(meshes.records[count - 1], name);
    meshes.count = count;
    return true;
}

bool ModelLists::appendMaterial(const char* name) {
    const size_t count = materials.count + 1;
    if (!growTo(materials.names, count) || !growTo(materials.records, count)) return false;
    copyName(materials.names[count - 1], name);
    initMaterialRecord(materials.records[count - 1], name);
    materials.count = count;
    return true;
}

bool ModelLists::appendNode(bool hasId, uint16_t id) {
    const size_t count = keyframes.count + 1;
    if (!growTo(keyframes.nodes, count)) return false;
    KeyframeNode& node = keyframes.nodes[count - 1];
    initKeyframeNode(node);
    node.id = hasId ? id : uint16_t(count - 1);
    keyframes.count = count;
    return true;
}

LightRecord* ModelLists::appendLight(const char* name) {
    const size_t count = lighting.lightCount + 1;
    if (!growTo(lighting.lights, count)) return nullptr;
    LightRecord& light = lighting.lights[count - 1];
    std::memset(&light, 0, sizeof light);
    copyName(light.name, name);
    light.colour[0] = light.colour[1] = light.colour[2] = 1.0f;
    light.multiplier = 1.0f;
    lighting.lightCount = count;
    return &light;
}

CameraRecord* ModelLists::appendCamera(const char* name) {
    const size_t count = lighting.cameraCount + 1;
    if (!growTo(lighting.cameras, count)) return nullptr;
    CameraRecord& camera = lighting.cameras[count - 1];
    std::memset(&camera, 0, sizeof camera);
    copyName(camera.name, name);
    lighting.cameraCount = count;
    return &camera;
}

void ModelLists::release() {
    std::free(lighting.lights);
    std::free(lighting.cameras);
    lighting = LightingList{};
    for (size_t i = 0; i < keyframes.count; ++i) freeNodeArrays(keyframes.nodes[i]);
    std::free(keyframes.nodes);
    keyframes = KeyframeList{};
    std::free(materials.names);
    std::free(materials.records);
    materials = MaterialList{};
    if (meshes.records)
        for (size_t i = 0; i < meshes.count; ++i) freeMeshArrays(meshes.records[i]);
    std::free(meshes.records);
    std::free(meshes.names);
    meshes = MeshList{};
}

void ModelLists::releaseMeshGeometry(size_t index) {
    if (index >= meshes.count) return;
    MeshRecord& mesh = meshes.records[index];
    freeMeshArrays(mesh);
    mesh.vertexCount = mesh.vertexFlagCount = mesh.texCoordCount = mesh.faceCount = mesh.materialGroupCount = 0;
    mesh.vertices = mesh.texCoords = nullptr;
    mesh.vertexFlags = nullptr;
    mesh.faces = nullptr;
    mesh.smoothingGroups = nullptr;
    mesh.materialGroups = nullptr;
}

void* ModelLists::allocate(size_t bytes) { return reallocate(nullptr, bytes); }

void* ModelLists::reallocate(void* block, size_t bytes) { return reallocateModelMemory(block, bytes); }

void* ModelLists::grow(void* block, size_t elementSize, size_t count) {
    size_t room = 1;
    while (room < count) room *= 2;
    // count - 1 elements already fit in the room rounded up for them.
    if (block && count > 1 && (count - 1) * 2 > room) return block;
    return reallocate(block, elementSize * room);
}

}  // namespace kestrav
