// Feeds each input through the walk of readDatabase, touches every element of
// every array the model claims to hold (so AddressSanitizer sees a count that
// does not match its array), checks that every float the reader must keep
// finite is, runs the converter's queries over the result, and releases the
// model; then reads it again with memory running out.

#include <cmath>
#include <cstdint>

#include "reader/ModelDatabase.h"
#include "tests/support/FailingAllocations.h"

using namespace kestrav;

namespace {

volatile uint32_t sink;

uint32_t touch(const void* data, size_t bytes) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum += p[i];
    return sum;
}

void requireFinite(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) __builtin_trap();
}

void requireFiniteMap(const MapRecord& map) {
    const float values[] = {map.blur, map.uScale, map.vScale, map.uOffset, map.vOffset, map.rotation};
    requireFinite(values, 6);
}

uint32_t touchModel(const ModelDatabase& database) {
    const MeshList* meshes = &database.meshList();
    const MaterialList* materials = &database.materialList();
    const KeyframeList* keyframes = &database.keyframeList();
    uint32_t sum = 0;
    for (size_t i = 0; i < meshes->count; ++i) {
        const MeshRecord* mesh = &meshes->records[i];
        sum += touch(mesh->vertices, sizeof(float) * 3 * mesh->vertexCount);
        sum += touch(mesh->vertexFlags, sizeof(uint16_t) * mesh->vertexFlagCount);
        sum += touch(mesh->texCoords, sizeof(float) * 2 * mesh->texCoordCount);
        sum += touch(mesh->faces, sizeof(MeshFace) * mesh->faceCount);
        requireFinite(mesh->matrix, 12);
        requireFinite(mesh->texCoords, 2 * size_t(mesh->texCoordCount));
        if (mesh->smoothingGroups) sum += touch(mesh->smoothingGroups, sizeof(uint32_t) * mesh->faceCount);
        for (int g = 0; g < mesh->materialGroupCount; ++g) {
            const MaterialGroup& group = mesh->materialGroups[g];
            sum += touch(group.faces, sizeof(uint16_t) * group.faceCount);
            const MaterialRecord* material = database.findMaterial(group.materialName);
            if (material) sum += touch(material, sizeof *material);
        }
    }
    for (size_t i = 0; i < keyframes->count; ++i) {
        const KeyframeNode& node = keyframes->nodes[i];
        sum += touch(node.positionKeys, sizeof(TrackKey) * node.positionKeyCount);
        sum += touch(node.positionValues, sizeof(float) * 3 * node.positionKeyCount);
        sum += touch(node.rotationKeys, sizeof(TrackKey) * node.rotationKeyCount);
        sum += touch(node.rotationValues, sizeof(float) * 4 * node.rotationKeyCount);
        sum += touch(node.scaleKeys, sizeof(TrackKey) * node.scaleKeyCount);
        sum += touch(node.scaleValues, sizeof(float) * 3 * node.scaleKeyCount);
        requireFinite(node.pivot, 3);
        requireFinite(node.boundingBox, 6);
        requireFinite(node.positionValues, 3 * size_t(node.positionKeyCount));
        requireFinite(node.rotationValues, 4 * size_t(node.rotationKeyCount));
        requireFinite(node.scaleValues, 3 * size_t(node.scaleKeyCount));
    }
    sum += touch(materials->records, sizeof(MaterialRecord) * materials->count);
    for (size_t i = 0; i < materials->count; ++i) {
        const MaterialRecord& material = materials->records[i];
        requireFinite(material.ambient, 3);
        requireFinite(material.diffuse, 3);
        requireFinite(material.specular, 3);
        requireFinite(&material.wireSize, 1);
        requireFiniteMap(material.textureMap);
        requireFiniteMap(material.bumpMap);
    }
    return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ModelDatabase database;
    if (database.readDatabase(data, size)) sink = touchModel(database);
    database.releaseDatabase();

    // Again with memory running out part way: a failed read frees all it had.
    bool result;
    {
        FailingAllocations failing(long(size % 48));
        result = database.readDatabase(data, size);
    }
    if (!result && database.meshList().records) __builtin_trap();
    database.releaseDatabase();
    return 0;
}
