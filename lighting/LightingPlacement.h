#pragma once

#include <cstdint>

#include "lighting/CameraBuilder.h"
#include "lighting/LightBuilder.h"
#include "reader/ModelDatabase.h"
#include "transform/ModelLinks.h"

namespace kestrav {

// Where the file's cameras and lights stand at the placement frame: their
// keyframer tracks where their nodes have them, the object's stored values
// otherwise, and below their nodes' parents, which links gives.
class LightingPlacement {
public:
    LightingPlacement(const ModelDatabase& database, const ModelLinks& links, uint32_t frame);

    CameraView cameraAt(const CameraRecord& camera) const;
    LightShape lightAt(const LightRecord& light) const;
    // The ambient colour at the frame; false when the file sets none.
    bool ambientAt(const LightingList& lighting, SbVec3f& out) const;

private:
    // The node's position track at the frame in world coordinates, or stored
    // (already in world coordinates) when there is no node or track.
    SbVec3f positionOf(const KeyframeNode* node, const float stored[3]) const;

    const ModelDatabase& nodeDatabase;
    const ModelLinks& links;
    uint32_t frame;
};

}  // namespace kestrav
