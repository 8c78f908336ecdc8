#include "bench/SceneFootprint.h"

#include <Inventor/fields/SoMFColor.h>
#include <Inventor/fields/SoMFFloat.h>
#include <Inventor/fields/SoMFInt32.h>
#include <Inventor/fields/SoMFVec2f.h>
#include <Inventor/fields/SoMFVec3f.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/nodes/SoGroup.h>

#include "reader/ModelDatabase.h"

using namespace kestrav;

namespace {

// The value types the converter's nodes use; any other multiple-value field
// is counted as one pointer per value.
size_t valueSize(const SoMField& field) {
    if (field.isOfType(SoMFVec3f::getClassTypeId()) || field.isOfType(SoMFColor::getClassTypeId())) return 12;
    if (field.isOfType(SoMFVec2f::getClassTypeId())) return 8;
    if (field.isOfType(SoMFInt32::getClassTypeId()) || field.isOfType(SoMFFloat::getClassTypeId())) return 4;
    return sizeof(void*);
}

void countNode(SoNode* node, SceneCount& count) {
    ++count.nodes;
    SoFieldList fields;
    node->getFields(fields);
    for (int i = 0; i < fields.getLength(); ++i)
        if (fields[i]->isOfType(SoMField::getClassTypeId())) {
            const SoMField& field = *static_cast<SoMField*>(fields[i]);
            count.fieldValueBytes += size_t(field.getNum()) * valueSize(field);
        }
    if (!node->isOfType(SoGroup::getClassTypeId())) return;
    SoGroup* group = static_cast<SoGroup*>(node);
    for (int i = 0; i < group->getNumChildren(); ++i) countNode(group->getChild(i), count);
}

size_t meshBytes(const MeshRecord& mesh) {
    size_t bytes = size_t(mesh.vertexCount) * 12 + size_t(mesh.vertexFlagCount) * 2 + size_t(mesh.texCoordCount) * 8 +
                   size_t(mesh.faceCount) * sizeof(MeshFace) + size_t(mesh.materialGroupCount) * sizeof(MaterialGroup);
    if (mesh.smoothingGroups) bytes += size_t(mesh.faceCount) * 4;
    for (int g = 0; g < mesh.materialGroupCount; ++g) bytes += size_t(mesh.materialGroups[g].faceCount) * 2;
    return bytes;
}

size_t trackBytes(uint32_t keyCount, int valuesPerKey) {
    return size_t(keyCount) * (sizeof(TrackKey) + sizeof(float) * size_t(valuesPerKey));
}

}  // namespace

size_t modelDatabaseBytes(const ModelDatabase& database) {
    size_t bytes = 0;
    const MeshList& meshes = database.meshList();
    bytes += sizeof(MeshList) + meshes.count * (sizeof(meshes.names[0]) + sizeof(MeshRecord));
    for (size_t i = 0; i < meshes.count; ++i) bytes += meshBytes(meshes.records[i]);
    const MaterialList& materials = database.materialList();
    bytes += sizeof(MaterialList) + materials.count * (sizeof(materials.names[0]) + sizeof(MaterialRecord));
    const KeyframeList& keyframes = database.keyframeList();
    bytes += sizeof(KeyframeList) + keyframes.count * sizeof(KeyframeNode);
    for (size_t i = 0; i < keyframes.count; ++i) {
        const KeyframeNode& node = keyframes.nodes[i];
        bytes += trackBytes(node.positionKeyCount, 3) + trackBytes(node.rotationKeyCount, 4) +
                 trackBytes(node.scaleKeyCount, 3);
    }
    return bytes;
}

SceneCount countScene(SoNode* root) {
    SceneCount count;
    countNode(root, count);
    return count;
}
