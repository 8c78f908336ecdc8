#include "transform/TransformBuilder.h"

#include <Inventor/SbDPMatrix.h>
#include <Inventor/SbDPRotation.h>
#include <Inventor/SbMatrix.h>
#include <Inventor/SbRotation.h>
#include <Inventor/SbVec3d.h>
#include <Inventor/SbVec3f.h>
#include <Inventor/SbVec4f.h>
#include <Inventor/nodes/SoMatrixTransform.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTransform.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "geometry/VectorOps.h"
#include "reader/FiniteValues.h"
#include "transform/KeyframeTrack.h"

namespace kestrav {

namespace {

// How closely the separate translation, rotation and scale nodes must make the
// instance matrix to be written in its place.
constexpr double kAgreement = 1e-5;

// A node's track values at the placement frame.
struct Pose {
    SbVec3f position{0.0f, 0.0f, 0.0f};
    bool hasRotation = false;
    float rotation[4] = {0.0f, 0.0f, 0.0f, 0.0f};  // angle, then axis x, y, z
    bool hasScale = false;
    SbVec3f scale{1.0f, 1.0f, 1.0f};
};

Pose poseAt(const KeyframeNode* node, uint32_t frame) {
    Pose pose;
    float v[3];
    if (vectorTrackAt(node->positionKeys, node->positionValues, node->positionKeyCount, frame, v))
        pose.position.setValue(v);
    pose.hasRotation = rotationTrackAt(node->rotationKeys, node->rotationValues, node->rotationKeyCount, frame,
                                       pose.rotation);
    pose.hasScale = vectorTrackAt(node->scaleKeys, node->scaleValues, node->scaleKeyCount, frame, v);
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

bool isFinite(const SbVec3f& v) { return allFinite(v.getValue(), 3); }

bool isFinite(const SbRotation& r) { return allFinite(r.getValue(), 4); }

// What setMatrix would store, checked before it is stored: a nearly singular
// frame has an inverse too large for floats, and its decomposition would be
// written as nan or inf.
bool decomposesFinitely(const SbMatrix& m) {
    SbVec3f translation, scale;
    SbRotation rotation, scaleOrientation;
    m.getTransform(translation, rotation, scale, scaleOrientation);
    return isFinite(rotation) && isFinite(scaleOrientation) && isFinite(translation) && isFinite(scale);
}

bool fieldsAreFinite(const SoTransform* t) {
    return isFinite(t->translation.getValue()) && isFinite(t->rotation.getValue()) &&
           isFinite(t->scaleFactor.getValue()) && isFinite(t->scaleOrientation.getValue()) &&
           isFinite(t->center.getValue());
}

// The matrix the nodes make together; the last, nearest the shape, acts first.
SbMatrix matrixOf(SoTransform* const* nodes, int count) {
    SbMatrix total = SbMatrix::identity();
    for (int i = 0; i < count; ++i) {
        const SoTransform* t = nodes[i];
        SbMatrix m;
        m.setTransform(t->translation.getValue(), t->rotation.getValue(), t->scaleFactor.getValue(),
                       t->scaleOrientation.getValue(), t->center.getValue());
        total.multLeft(m);
    }
    return total;
}

double largestEntry(const SbDPMatrix& m) {
    double largest = 0.0;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) largest = std::max(largest, std::fabs(m[row][col]));
    return largest;
}

}  // namespace

TransformBuilder::TransformBuilder(const ModelDatabase& database, uint32_t placement, const MeshRecord* mesh,
                                   const KeyframeNode* node)
    : nodeDatabase(database), frame(placement), currentMesh(mesh), currentNode(node), lineage{}, lineageDepth(0) {}

void TransformBuilder::buildTransforms(SoSeparator* objectSeparator, int& mirrored) {
    if (!currentNode) return;

    SbVec3f t(0.0f, 0.0f, 0.0f);
    SbVec4f r(0.0f, 0.0f, 0.0f, 0.0f);
    SbVec3f s(0.0f, 0.0f, 0.0f);
    SbDPMatrix world = SbDPMatrix::identity();
    lineageDepth = 0;
    composeNode(currentNode, t, r, s, world);

    const bool frameMirrored = frameIsMirrored();
    const bool invertible = frameIsInvertible();
    SoTransform* nodes[kMaxPlacementNodes];
    const int count = separateNodes(t, r, s, frameMirrored, invertible, nodes);
    bool nodesFinite = true;
    for (int i = 0; i < count; ++i) {
        nodes[i]->ref();
        nodesFinite = nodesFinite && fieldsAreFinite(nodes[i]);
    }

    // Without a usable frame or instance matrix the separate nodes stay, and
    // with them the mirrored frame's clockwise order.
    bool reflects = frameMirrored;
    bool useMatrix = false;
    SbDPMatrix matrix;
    if (invertible && instanceMatrix(world, frameMirrored, matrix)) {
        reflects = matrix.det3() < 0.0;
        useMatrix = !placesAlike(matrixOf(nodes, count), matrix, world);
    }

    if (useMatrix) {
        SbMatrix single;
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 4; ++col) single[row][col] = float(matrix[row][col]);
        SoMatrixTransform* placed = new SoMatrixTransform;
        placed->matrix = single;
        objectSeparator->addChild(placed);
    } else if (nodesFinite) {
        for (int i = 0; i < count; ++i) objectSeparator->addChild(nodes[i]);
    } else {
        // Nothing finite to write: the stored vertices are already in place.
        reflects = false;
    }
    for (int i = 0; i < count; ++i) nodes[i]->unref();
    if (reflects) mirrored = 1;
}

void TransformBuilder::parentWorldMatrix(SbDPMatrix& out) {
    out = SbDPMatrix::identity();
    if (!currentNode) return;
    lineage[0] = currentNode;
    lineageDepth = 1;
    const KeyframeNode* parent = resolveParent(currentNode);
    if (parent) {
        SbVec3f t, s;
        SbVec4f r;
        composeNode(parent, t, r, s, out);
    }
    lineageDepth = 0;
}

bool TransformBuilder::instanceMatrixAt(uint32_t at, SbMatrix& out, bool& reflects) {
    if (!currentNode || !frameIsInvertible()) return false;
    SbVec3f t, s;
    SbVec4f r;
    SbDPMatrix world = SbDPMatrix::identity();
    const uint32_t placement = frame;
    frame = at;
    lineageDepth = 0;
    composeNode(currentNode, t, r, s, world);
    frame = placement;
    SbDPMatrix matrix;
    if (!instanceMatrix(world, frameIsMirrored(), matrix)) return false;
    reflects = matrix.det3() < 0.0;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) out[row][col] = float(matrix[row][col]);
    return true;
}

bool TransformBuilder::tracksCanMove() {
    lineageDepth = 0;
    for (const KeyframeNode* node = currentNode; node;) {
        if (node->positionKeyCount > 1 || node->rotationKeyCount > 1 || node->scaleKeyCount > 1) return true;
        const KeyframeNode* parent = resolveParent(node);
        if (!parent) break;
        lineage[lineageDepth++] = node;
        node = parent;
    }
    return false;
}

// Placement, rotation, mirror, scale and local frame, each about the frame's
// origin; the rotation only for a nonzero axis, the mirror only for a mirrored
// frame. Returns how many there are.
int TransformBuilder::separateNodes(const SbVec3f& t, const SbVec4f& r, const SbVec3f& s, bool mirror,
                                    bool invertible, SoTransform** nodes) const {
    const SbVec3f origin(&currentMesh->matrix[9]);
    int count = 0;

    SoTransform* placement = new SoTransform;
    placement->translation = t - origin;
    placement->center = origin;
    nodes[count++] = placement;

    const SbVec3f axis(r[0], r[1], r[2]);
    if (axisIsNonzero(axis)) {
        SoTransform* rotation = new SoTransform;
        rotation->rotation = SbRotation(axis, -r[3]);
        rotation->center = origin;
        nodes[count++] = rotation;
    }

    if (mirror) {
        SoTransform* mirrorNode = new SoTransform;
        mirrorNode->scaleFactor.setValue(-1.0f, 1.0f, 1.0f);
        mirrorNode->center = origin;
        nodes[count++] = mirrorNode;
    }

    SoTransform* scale = new SoTransform;
    scale->scaleFactor = s;
    scale->center = origin;
    nodes[count++] = scale;

    nodes[count++] = localFrame(invertible);
    return count;
}

// Every element within float precision of the instance matrix, relative to the
// largest value involved: the matrix, the frame, the world matrix and the pivot.
bool TransformBuilder::placesAlike(const SbMatrix& made, const SbDPMatrix& matrix, const SbDPMatrix& world) const {
    double largest = std::max(largestEntry(matrix), largestEntry(world));
    for (int i = 0; i < 12; ++i) largest = std::max(largest, double(std::fabs(currentMesh->matrix[i])));
    for (int i = 0; i < 3; ++i) largest = std::max(largest, double(std::fabs(currentNode->pivot[i])));
    const double tolerance = kAgreement * (1.0 + largest);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            if (!(std::fabs(double(made[row][col]) - matrix[row][col]) <= tolerance)) return false;
    return true;
}

void TransformBuilder::composeNode(const KeyframeNode* node, SbVec3f& t, SbVec4f& r, SbVec3f& s,
                                   SbDPMatrix& world) {
    const Pose pose = poseAt(node, frame);
    const KeyframeNode* parent = resolveParent(node);
    if (!parent) {
        t = pose.position;
        if (pose.hasRotation)
            r.setValue(pose.rotation[1], pose.rotation[2], pose.rotation[3], pose.rotation[0]);
        else
            r.setValue(1.0f, 0.0f, 0.0f, 0.0f);
        s = pose.scale;
        world = localMatrix(pose);
        return;
    }

    lineage[lineageDepth++] = node;
    composeNode(parent, t, r, s, world);
    --lineageDepth;
    SbDPMatrix composed = localMatrix(pose);
    composed.multRight(world);
    world = composed;

    // The parent's angle moves the position with -angle but enters the
    // rotation product with +angle; the node's own angle enters the rotation
    // with + and the scale with -.
    const SbVec3f parentAxis(r[0], r[1], r[2]);
    const float parentAngle = r[3];
    const bool parentTurns = axisIsNonzero(parentAxis);

    SbMatrix k;
    k.setScale(s);
    const SbMatrix b = parentTurns ? rotationMatrix(parentAxis, -parentAngle) : SbMatrix::identity();
    SbMatrix a;
    a.setTranslate(t);
    SbVec3f scaled, turned;
    k.multVecMatrix(pose.position, scaled);
    b.multVecMatrix(scaled, turned);
    a.multVecMatrix(turned, t);

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
    r.setValue(composedAxis[0], composedAxis[1], composedAxis[2], composedAngle);

    SbMatrix e = turns ? rotationMatrix(axis, -angle) : SbMatrix::identity();
    e.multRight(k);
    SbRotation unusedRotation;
    e.getTransform(unusedTranslation, unusedRotation, s, unusedOrientation);
    if (pose.hasScale) s.setValue(s[0] * pose.scale[0], s[1] * pose.scale[1], s[2] * pose.scale[2]);
}

// The node's parent, or null when the node is placed as a root: it names no
// parent, the parent is not in the file, following the link would come back to
// a node whose composition is under way (a cycle), or the chain is too deep.
const KeyframeNode* TransformBuilder::resolveParent(const KeyframeNode* node) const {
    if (node->parentName[0] == '\0' || lineageDepth >= kMaxLineage) return nullptr;
    const KeyframeNode* parent = nodeDatabase.lookupNode(node->parentName);
    if (parent == node) return nullptr;
    for (int i = 0; i < lineageDepth; ++i)
        if (lineage[i] == parent) return nullptr;
    return parent;
}

// A frame counts as mirrored only when its triple product truncates to -1 or
// less, so a mirrored frame with short axes is drawn unmirrored.
bool TransformBuilder::frameIsMirrored() const {
    const float* m = currentMesh->matrix;
    float normal[3];
    cross(&m[0], &m[3], normal);
    int tripleProduct = 0;
    dotTruncated(normal, &m[6], tripleProduct);
    return tripleProduct < 0;
}

// Axes whose inverse floats can hold, so the stored vertices can be taken back
// into the mesh's local frame.
bool TransformBuilder::frameIsInvertible() const {
    const float* m = currentMesh->matrix;
    const SbMatrix axes(m[0], m[1], m[2], 0.0f, m[3], m[4], m[5], 0.0f, m[6], m[7], m[8], 0.0f, 0.0f, 0.0f, 0.0f,
                        1.0f);
    return axes.det3() != 0.0f && decomposesFinitely(axes.inverse());
}

SoTransform* TransformBuilder::localFrame(bool invertible) const {
    const float* m = currentMesh->matrix;
    SoTransform* local = new SoTransform;
    // Axes without a usable inverse leave the stored vertices unturned and
    // unscaled; the pivot and origin still apply.
    if (invertible) {
        const SbMatrix axes(m[0], m[1], m[2], 0.0f, m[3], m[4], m[5], 0.0f, m[6], m[7], m[8], 0.0f, 0.0f, 0.0f,
                            0.0f, 1.0f);
        local->setMatrix(axes.inverse());
    }
    const SbVec3f pivot(currentNode->pivot);
    local->translation = -pivot;
    local->center = SbVec3f(&m[9]);
    return local;
}

// M = F^-1 x Tr(-P) x K x W: the stored vertices back into the mesh's frame F,
// moved by the pivot P, mirrored by K when the frame is mirrored and the
// keys do not already reflect, and placed by the node's world matrix W.
// False when M has no finite float form.
bool TransformBuilder::instanceMatrix(const SbDPMatrix& world, bool mirror, SbDPMatrix& out) const {
    const float* f = currentMesh->matrix;
    const SbDPMatrix frameMatrix(f[0], f[1], f[2], 0.0, f[3], f[4], f[5], 0.0, f[6], f[7], f[8], 0.0, f[9], f[10],
                                 f[11], 1.0);
    out = frameMatrix.inverse();
    SbDPMatrix pivot;
    pivot.setTranslate(-toDouble(SbVec3f(currentNode->pivot)));
    out.multRight(pivot);
    if (mirror && world.det3() > 0.0) {
        SbDPMatrix k;
        k.setScale(SbVec3d(-1.0, 1.0, 1.0));
        out.multRight(k);
    }
    out.multRight(world);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            if (!(std::fabs(out[row][col]) <= double(FLT_MAX))) return false;
    return true;
}

}  // namespace kestrav
