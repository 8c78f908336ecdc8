#include "lighting/LightingPlacement.h"

#include <Inventor/SbDPMatrix.h>
#include <Inventor/SbVec3d.h>

#include "reader/ChunkId.h"
#include "transform/KeyframeTrack.h"
#include "transform/NodePlacement.h"

namespace kestrav {

LightingPlacement::LightingPlacement(const ModelDatabase& database, const ModelLinks& modelLinks, uint32_t placement)
    : nodeDatabase(database), links(modelLinks), frame(placement) {}

SbVec3f LightingPlacement::positionOf(const KeyframeNode* node, const float stored[3]) const {
    float local[3];
    if (!node || !vectorTrackAt(node->positionKeys, node->positionValues, node->positionKeyCount, frame, local))
        return SbVec3f(stored);
    const NodeChain chain = links.chainOf(*node);
    const SbDPMatrix parent = worldMatrixAt(chain.data() + 1, chain.size() - 1, frame);
    SbVec3d world;
    parent.multVecMatrix(SbVec3d(local[0], local[1], local[2]), world);
    return SbVec3f(float(world[0]), float(world[1]), float(world[2]));
}

CameraView LightingPlacement::cameraAt(const CameraRecord& camera) const {
    const KeyframeNode* node = nodeDatabase.findTaggedNode(camera.name, CAMERA_NODE_TAG);
    const KeyframeNode* targetNode = nodeDatabase.findTaggedNode(camera.name, TARGET_NODE_TAG);
    CameraView view;
    view.position = positionOf(node, camera.position);
    view.target = positionOf(targetNode, camera.target);
    view.roll = camera.bank;
    view.fieldOfView = fieldOfViewOfLens(camera.lens);
    if (node) {
        scalarTrackAt(node->roll, frame, view.roll);
        scalarTrackAt(node->fieldOfView, frame, view.fieldOfView);
    }
    view.hasRanges = camera.hasRanges;
    view.nearRange = camera.nearRange;
    view.farRange = camera.farRange;
    return view;
}

LightShape LightingPlacement::lightAt(const LightRecord& light) const {
    const KeyframeNode* node =
        nodeDatabase.findTaggedNode(light.name, light.spot ? SPOTLIGHT_NODE_TAG : LIGHT_NODE_TAG);
    LightShape shape;
    shape.position = positionOf(node, light.position);
    shape.colour.setValue(light.colour);
    shape.multiplier = light.multiplier;
    shape.on = !light.off;
    shape.spot = light.spot;
    shape.hotspot = light.hotspot;
    shape.falloff = light.falloff;
    if (node) {
        float colour[3];
        if (vectorTrackAt(node->colour, frame, colour)) shape.colour.setValue(colour);
        scalarTrackAt(node->hotspot, frame, shape.hotspot);
        scalarTrackAt(node->falloff, frame, shape.falloff);
    }
    if (shape.spot)
        shape.target = positionOf(nodeDatabase.findTaggedNode(light.name, L_TARGET_NODE_TAG), light.target);
    return shape;
}

bool LightingPlacement::ambientAt(const LightingList& lighting, SbVec3f& out) const {
    const KeyframeNode* node = nodeDatabase.findTaggedNode(nullptr, AMBIENT_NODE_TAG);
    float colour[3];
    if (node && vectorTrackAt(node->colour, frame, colour)) {
        out.setValue(colour);
        return true;
    }
    if (!lighting.hasAmbient) return false;
    out.setValue(lighting.ambient);
    return true;
}

}  // namespace kestrav
