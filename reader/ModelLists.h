#pragma once

// The three process-wide lists of the model, their append operations and the
// values every record starts with. Only the chunk walk appends; everything
// else reads the lists through ModelDatabase.

#include <cstddef>
#include <cstdio>

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

// The current lists; null before createLists and after releaseLists.
MeshList* currentMeshList();
MaterialList* currentMaterialList();
KeyframeList* currentKeyframeList();
LightingList* currentLightingList();

// Creates the three empty lists reading from file; false when memory runs out
// (then no list exists).
bool createLists(FILE* file);
// Each adds one element to its arrays; false when memory runs out (then the
// lists are unchanged).
bool appendMesh(const char* name);
bool appendMaterial(const char* name);
// With hasId false the node's id is its index in the list.
bool appendNode(bool hasId, uint16_t id);
// Adds a light or camera with every value 0, but for a white light at full
// strength; null when memory runs out.
LightRecord* appendLight(const char* name);
CameraRecord* appendCamera(const char* name);
// Frees every list and everything the records own; nothing when no list exists.
void releaseLists();

// Every array of the model comes from these, so a test can make them fail.
void* modelMalloc(size_t bytes);
void* modelRealloc(void* block, size_t bytes);
// Makes room for count elements of elementSize in a block that holds count - 1,
// in power-of-two steps, so appending n records one at a time copies O(n) bytes
// rather than O(n^2) (a file of thousands of tiny mesh chunks). Null when memory
// runs out; then the block is untouched.
void* modelGrow(void* block, size_t elementSize, int32_t count);
// For tests: the allocation after the next `count` succeeds fails, and so does
// every later one; a negative count turns failures off.
void failAllocationsAfter(long count);

}  // namespace kestrav
