#pragma once

// The lists of one model, their append operations and the values every
// record starts with. Only the chunk walk appends; everything else reads the
// lists through the ModelDatabase that owns them.

#include <cstddef>
#include <cstdint>

#include "reader/ModelRecords.h"

namespace kestrav {

// Longest full name of a node: name, '.', instance name and the zero byte.
constexpr int kFullNameSize = 23;

// Values at creation, for the walk and for tests that build records by hand.
void initMeshRecord(MeshRecord& mesh, const char* name);
void initMapRecord(MapRecord& map);
void initMaterialRecord(MaterialRecord& material, const char* name);
void initKeyframeNode(KeyframeNode& node);

// The node's name, or name "." instanceName when it has an instance name.
void fullName(const KeyframeNode& node, char (&out)[kFullNameSize]);

// The mesh, material, keyframer and lighting lists of one model and every
// array their records own. Each object holds its own model, so several conversions can
// run side by side in one process.
class ModelLists {
public:
    ModelLists() = default;
    ~ModelLists() { release(); }
    ModelLists(const ModelLists&) = delete;
    ModelLists& operator=(const ModelLists&) = delete;

    MeshList& meshList() { return meshes; }
    MaterialList& materialList() { return materials; }
    KeyframeList& keyframeList() { return keyframes; }
    LightingList& lightingList() { return lighting; }
    const MeshList& meshList() const { return meshes; }
    const MaterialList& materialList() const { return materials; }
    const KeyframeList& keyframeList() const { return keyframes; }
    const LightingList& lightingList() const { return lighting; }

    // Each adds one element to its arrays; false when memory runs out (then the
    // lists are unchanged).
    bool appendMesh(const char* name);
    bool appendMaterial(const char* name);
    // With hasId false the node's id is its index in the list.
    bool appendNode(bool hasId, uint16_t id);
    // Adds a light or camera with every value 0, but for a white light at full
    // strength; null when memory runs out (then the lists are unchanged).
    LightRecord* appendLight(const char* name);
    CameraRecord* appendCamera(const char* name);
    // Frees everything the lists and their records own and leaves them empty;
    // may be called any number of times.
    void release();
    // Frees the arrays of mesh index (vertices, faces, groups, texture
    // coordinates) and sets their counts to 0; its name and matrix stay.
    void releaseMeshGeometry(size_t index);

    // Every array of the model comes from these (through reallocateModelMemory).
    void* allocate(size_t bytes);
    void* reallocate(void* block, size_t bytes);
    // Makes room for count elements of elementSize in a block that holds count - 1,
    // in power-of-two steps, so appending n records one at a time copies O(n) bytes
    // rather than O(n^2) (a file of thousands of tiny mesh chunks). Null when memory
    // runs out; then the block is untouched.
    void* grow(void* block, size_t elementSize, size_t count);

private:
    template <class T>
    bool growTo(T*& block, size_t count);

    MeshList meshes{};
    MaterialList materials{};
    KeyframeList keyframes{};
    LightingList lighting{};
};

}  // namespace kestrav
