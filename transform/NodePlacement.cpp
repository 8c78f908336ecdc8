#include "transform/NodePlacement.h"

#include <Inventor/SbDPRotation.h>
#include <Inventor/SbMatrix.h>
#include <Inventor/SbRotation.h>
#include <Inventor/SbVec3d.h>

#include "transform/KeyframeTrack.h"

namespace kestrav {

namespace {

// A node's track values at the frame.
struct Pose {
    SbVec3f position{0.0f, 0.0f, 0.0f};
    bool hasRotation = false;
    float rotation[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // angle, then axis x, y, z
    bool hasScale = false;
    SbVec3f scale{1.0f, 1.0f, 1.0f};
};

Pose poseAt(const LinkedNode& linked, uint32_t frame) {
    const KeyframeNode& node = *linked.record;
    Pose pose;
    float v[3];
    if (vectorTrackAt(node.positionKeys, node.positionValues, node.positionKeyCount, frame, v))
        pose.position.setValue(v);
    pose.hasRotation = linked.rotation.at(frame, pose.rotation);
    pose.hasScale = vectorTrackAt(node.scaleKeys, node.scaleValues, node.scaleKeyCount, frame, v);
    if (pose.hasScale) pose.scale.setValue(v);
    return pose;
}

bool axisIsNonzero(const SbVec3f& axis) { return axis[0] != 0.0f || axis[1] != 0.0f || axis[2] != 0.0f; }

// The node's own rotation, when it has rotation keys with a nonzero axis.
bool ownRotation(const Pose& pose, SbVec3f& axis, float& angle) {
    if (!pose.hasRotation) return false;
    axis.setValue(pose.rotation[1], pose.rotation[2], pose.rotation[3]);
    angle = pose.rotation[0];
    return axisIsNonzero(axis);
}

SbMatrix rotationMatrix(const SbVec3f& axis, float angle) {
    SbMatrix m;
    m.setRotate(SbRotation(axis, angle));
    return m;
}

SbVec3d toDouble(const SbVec3f& v) { return SbVec3d(v[0], v[1], v[2]); }

// Sc(scale) x Rot(axis, -angle) x Tr(position): the node in its parent's space.
SbDPMatrix localMatrix(const Pose& pose) {
    SbDPMatrix m, turn, move;
    m.setScale(toDouble(pose.scale));
    SbVec3f axis;
    float angle = 0.0f;
    if (ownRotation(pose, axis, angle)) {
        turn.setRotate(SbDPRotation(toDouble(axis), -double(angle)));
        m.multRight(turn);
    }
    move.setTranslate(toDouble(pose.position));
    m.multRight(move);
    return m;
}

SeparatePlacement rootPlacement(const Pose& pose) {
    SeparatePlacement placed;
    placed.translation = pose.position;
    if (pose.hasRotation)
        placed.rotation.setValue(pose.rotation[1], pose.rotation[2], pose.rotation[3], pose.rotation[0]);
    placed.scale = pose.scale;
    return placed;
}

// A child's pose after its parent's separate placement. The parent's angle
// moves the position with -angle but enters the rotation product with +angle;
// the node's own angle enters the rotation with + and the scale with -.
void placeChild(const Pose& pose, SeparatePlacement& placed) {
    const SbVec3f parentAxis(placed.rotation[0], placed.rotation[1], placed.rotation[2]);
    const float parentAngle = placed.rotation[3];
    const bool parentTurns = axisIsNonzero(parentAxis);

    SbMatrix k;
    k.setScale(placed.scale);
    const SbMatrix b = parentTurns ? rotationMatrix(parentAxis, -parentAngle) : SbMatrix::identity();
    SbMatrix a;
    a.setTranslate(placed.translation);
    SbVec3f scaled, turned;
    k.multVecMatrix(pose.position, scaled);
    b.multVecMatrix(scaled, turned);
    a.multVecMatrix(turned, placed.translation);

    SbVec3f axis;
    float angle = 0.0f;
    const bool turns = ownRotation(pose, axis, angle);

    SbMatrix d = parentTurns ? rotationMatrix(parentAxis, parentAngle) : SbMatrix::identity();
    if (turns) d.multRight(rotationMatrix(axis, angle));
    SbVec3f unusedTranslation, unusedScale;
    SbRotation rotation, unusedOrientation;
    d.getTransform(unusedTranslation, rotation, unusedScale, unusedOrientation);
    SbVec3f composedAxis;
    float composedAngle = 0.0f;
    rotation.getValue(composedAxis, composedAngle);
    placed.rotation.setValue(composedAxis[0], composedAxis[1], composedAxis[2], composedAngle);

    SbMatrix e = turns ? rotationMatrix(axis, -angle) : SbMatrix::identity();
    e.multRight(k);
    SbRotation unusedRotation;
    SbVec3f s;
    e.getTransform(unusedTranslation, unusedRotation, s, unusedOrientation);
    if (pose.hasScale) s.setValue(s[0] * pose.scale[0], s[1] * pose.scale[1], s[2] * pose.scale[2]);
    placed.scale = s;
}

}  // namespace

SbDPMatrix worldMatrixAt(const LinkedNode* const* chain, size_t length, uint32_t frame,
                         SeparatePlacement* separate) {
    SbDPMatrix world = SbDPMatrix::identity();
    for (size_t i = length; i-- > 0;) {
        const Pose pose = poseAt(*chain[i], frame);
        if (i + 1 == length) {
            world = localMatrix(pose);
            if (separate) *separate = rootPlacement(pose);
            continue;
        }
        SbDPMatrix composed = localMatrix(pose);
        composed.multRight(world);
        world = composed;
        if (separate) placeChild(pose, *separate);
    }
    return world;
}

}  // namespace kestrav
