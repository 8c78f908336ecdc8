#include "transform/TransformBuilder.h"

#include <Inventor/SbMatrix.h>
#include <Inventor/SbRotation.h>
#include <Inventor/SbVec3d.h>
#include <Inventor/SbVec3f.h>
#include <Inventor/nodes/SoMatrixTransform.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTransform.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "geometry/VectorOps.h"
#include "reader/FiniteValues.h"
#include "transform/NodePlacement.h"

namespace kestrav {

namespace {

// How closely the separate translation, rotation and scale nodes must make the
// instance matrix to be written in its place.
constexpr double kAgreement = 1e-5;
constexpr int kMaxPlacementNodes = 5;

bool isFinite(const SbVec3f& v) { return allFinite(v.getValue(), 3); }

bool isFinite(const SbRotation& r) { return allFinite(r.getValue(), 4); }

SbMatrix axesOf(const MeshRecord& mesh) {
    const float* m = mesh.matrix;
    return SbMatrix(m[0], m[1], m[2], 0.0f, m[3], m[4], m[5], 0.0f, m[6], m[7], m[8], 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
}

// A frame counts as mirrored only when its triple product truncates to -1 or
// less, so a mirrored frame with short axes is drawn unmirrored.
bool isMirrored(const MeshRecord& mesh) {
    const float* m = mesh.matrix;
    float normal[3];
    cross(&m[0], &m[3], normal);
    int tripleProduct = 0;
    dotTruncated(normal, &m[6], tripleProduct);
    return tripleProduct < 0;
}

// What setMatrix would store, checked before it is stored: a nearly singular
// frame has an inverse too large for floats, and its decomposition would be
// written as nan or inf.
bool decomposesFinitely(const SbMatrix& m) {
    SbVec3f translation, scale;
    SbRotation rotation, scaleOrientation;
    m.getTransform(translation, rotation, scale, scaleOrientation);
    return isFinite(rotation) && isFinite(scaleOrientation) && isFinite(translation) && isFinite(scale);
}

// Axes whose inverse floats can hold, so the stored vertices can be taken back
// into the mesh's local frame.
bool isInvertible(const MeshRecord& mesh) {
    const SbMatrix axes = axesOf(mesh);
    return axes.det3() != 0.0f && decomposesFinitely(axes.inverse());
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

SoTransform* localFrame(const MeshRecord& mesh, const KeyframeNode& node, bool invertible) {
    SoTransform* local = new SoTransform;
    // Axes without a usable inverse leave the stored vertices unturned and
    // unscaled; the pivot and origin still apply.
    if (invertible) local->setMatrix(axesOf(mesh).inverse());
    const SbVec3f pivot(node.pivot);
    local->translation = -pivot;
    local->center = SbVec3f(&mesh.matrix[9]);
    return local;
}

// Placement, rotation, mirror, scale and local frame, each about the frame's
// origin; the rotation only for a nonzero axis, the mirror only for a mirrored
// frame. Returns how many there are.
int separateNodes(const SeparatePlacement& placed, const MeshRecord& mesh, const KeyframeNode& node, bool mirror,
                  bool invertible, SoTransform** nodes) {
    const SbVec3f origin(&mesh.matrix[9]);
    int count = 0;

    SoTransform* placement = new SoTransform;
    placement->translation = placed.translation - origin;
    placement->center = origin;
    nodes[count++] = placement;

    const SbVec4f& r = placed.rotation;
    const SbVec3f axis(r[0], r[1], r[2]);
    if (axis[0] != 0.0f || axis[1] != 0.0f || axis[2] != 0.0f) {
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
    scale->scaleFactor = placed.scale;
    scale->center = origin;
    nodes[count++] = scale;

    nodes[count++] = localFrame(mesh, node, invertible);
    return count;
}

// Every element within float precision of the instance matrix, relative to the
// largest value involved: the matrix, the frame, the world matrix and the pivot.
bool placesAlike(const SbMatrix& made, const SbDPMatrix& matrix, const SbDPMatrix& world, const MeshRecord& mesh,
                 const KeyframeNode& node) {
    double largest = std::max(largestEntry(matrix), largestEntry(world));
    for (int i = 0; i < 12; ++i) largest = std::max(largest, double(std::fabs(mesh.matrix[i])));
    for (int i = 0; i < 3; ++i) largest = std::max(largest, double(std::fabs(node.pivot[i])));
    const double tolerance = kAgreement * (1.0 + largest);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            if (!(std::fabs(double(made[row][col]) - matrix[row][col]) <= tolerance)) return false;
    return true;
}

void toFloat(const SbDPMatrix& in, SbMatrix& out) {
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) out[row][col] = float(in[row][col]);
}

}  // namespace

TransformBuilder::TransformBuilder(const MeshRecord& instanceMesh, const NodeChain& nodeChain)
    : mesh(instanceMesh),
      chain(nodeChain),
      frameMirrored(isMirrored(instanceMesh)),
      frameInvertible(isInvertible(instanceMesh)) {
    if (chain.empty() || !frameInvertible) return;
    const float* f = mesh.matrix;
    const SbDPMatrix frameMatrix(f[0], f[1], f[2], 0.0, f[3], f[4], f[5], 0.0, f[6], f[7], f[8], 0.0, f[9], f[10],
                                 f[11], 1.0);
    toPivot = frameMatrix.inverse();
    SbDPMatrix pivot;
    pivot.setTranslate(-SbVec3d(chain[0]->pivot[0], chain[0]->pivot[1], chain[0]->pivot[2]));
    toPivot.multRight(pivot);
    toMirroredPivot = toPivot;
    SbDPMatrix k;
    k.setScale(SbVec3d(-1.0, 1.0, 1.0));
    toMirroredPivot.multRight(k);
}

void TransformBuilder::buildTransforms(uint32_t frame, SoSeparator* objectSeparator, int& mirrored) const {
    if (chain.empty()) return;
    const KeyframeNode& node = *chain[0];

    SeparatePlacement placed;
    const SbDPMatrix world = worldMatrixAt(chain.data(), chain.size(), frame, &placed);

    SoTransform* nodes[kMaxPlacementNodes];
    const int count = separateNodes(placed, mesh, node, frameMirrored, frameInvertible, nodes);
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
    if (frameInvertible && instanceMatrix(world, matrix)) {
        reflects = matrix.det3() < 0.0;
        useMatrix = !placesAlike(matrixOf(nodes, count), matrix, world, mesh, node);
    }

    if (useMatrix) {
        SbMatrix single;
        toFloat(matrix, single);
        SoMatrixTransform* placedMatrix = new SoMatrixTransform;
        placedMatrix->matrix = single;
        objectSeparator->addChild(placedMatrix);
    } else if (nodesFinite) {
        for (int i = 0; i < count; ++i) objectSeparator->addChild(nodes[i]);
    } else {
        // Nothing finite to write: the stored vertices are already in place.
        reflects = false;
    }
    for (int i = 0; i < count; ++i) nodes[i]->unref();
    if (reflects) mirrored = 1;
}

bool TransformBuilder::instanceMatrixAt(uint32_t frame, SbMatrix& out, bool& reflects) const {
    if (chain.empty() || !frameInvertible) return false;
    SbDPMatrix matrix;
    if (!instanceMatrix(worldMatrixAt(chain.data(), chain.size(), frame), matrix)) return false;
    reflects = matrix.det3() < 0.0;
    toFloat(matrix, out);
    return true;
}

bool TransformBuilder::tracksCanMove() const {
    for (const KeyframeNode* node : chain)
        if (node->positionKeyCount > 1 || node->rotationKeyCount > 1 || node->scaleKeyCount > 1) return true;
    return false;
}

// M = F^-1 x Tr(-P) x K x W: the stored vertices back into the mesh's frame,
// moved by the pivot, mirrored by K when the frame is mirrored and the keys do
// not already reflect, and placed by the node's world matrix W. False when M
// has no finite float form.
bool TransformBuilder::instanceMatrix(const SbDPMatrix& world, SbDPMatrix& out) const {
    out = frameMirrored && world.det3() > 0.0 ? toMirroredPivot : toPivot;
    out.multRight(world);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            if (!(std::fabs(out[row][col]) <= double(FLT_MAX))) return false;
    return true;
}

}  // namespace kestrav
