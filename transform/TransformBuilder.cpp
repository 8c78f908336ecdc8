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

bool isFinite(const TransformFields& t) {
    return isFinite(t.translation) && isFinite(t.rotation) && isFinite(t.scaleFactor) &&
           isFinite(t.scaleOrientation) && isFinite(t.center);
}

// The matrix the nodes make together; the last, nearest the shape, acts first.
SbMatrix matrixOf(const TransformFields* nodes, int count) {
    SbMatrix total = SbMatrix::identity();
    for (int i = 0; i < count; ++i) {
        const TransformFields& t = nodes[i];
        SbMatrix m;
        m.setTransform(t.translation, t.rotation, t.scaleFactor, t.scaleOrientation, t.center);
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

TransformFields localFrame(const MeshRecord& mesh, const KeyframeNode& node, bool invertible) {
    TransformFields local;
    // Axes without a usable inverse leave the stored vertices unturned and
    // unscaled; the pivot and origin still apply. The inverse is split as a
    // Transform's setMatrix splits it, about a center at the origin.
    if (invertible) {
        SbVec3f unusedTranslation;
        axesOf(mesh).inverse().getTransform(unusedTranslation, local.rotation, local.scaleFactor,
                                            local.scaleOrientation, SbVec3f(0.0f, 0.0f, 0.0f));
        local.set = TransformFields::kRotation | TransformFields::kScaleFactor | TransformFields::kScaleOrientation;
    }
    local.translation = -SbVec3f(node.pivot);
    local.center = SbVec3f(&mesh.matrix[9]);
    local.set |= TransformFields::kTranslation | TransformFields::kCenter;
    return local;
}

// Placement, rotation, mirror, scale and local frame, each about the frame's
// origin; the rotation only for a nonzero axis, the mirror only for a mirrored
// frame. Returns how many there are.
int separateNodes(const SeparatePlacement& placed, const MeshRecord& mesh, const KeyframeNode& node, bool mirror,
                  bool invertible, TransformFields* nodes) {
    const SbVec3f origin(&mesh.matrix[9]);
    int count = 0;
    auto add = [&](uint8_t set) -> TransformFields& {
        TransformFields& t = nodes[count++];
        t.set = set | TransformFields::kCenter;
        t.center = origin;
        return t;
    };

    add(TransformFields::kTranslation).translation = placed.translation - origin;

    const SbVec4f& r = placed.rotation;
    const SbVec3f axis(r[0], r[1], r[2]);
    if (axis[0] != 0.0f || axis[1] != 0.0f || axis[2] != 0.0f)
        add(TransformFields::kRotation).rotation = SbRotation(axis, -r[3]);

    if (mirror) add(TransformFields::kScaleFactor).scaleFactor.setValue(-1.0f, 1.0f, 1.0f);
    add(TransformFields::kScaleFactor).scaleFactor = placed.scale;

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

SoTransform* transformNode(const TransformFields& fields) {
    SoTransform* node = new SoTransform;
    if (fields.set & TransformFields::kTranslation) node->translation = fields.translation;
    if (fields.set & TransformFields::kRotation) node->rotation = fields.rotation;
    if (fields.set & TransformFields::kScaleFactor) node->scaleFactor = fields.scaleFactor;
    if (fields.set & TransformFields::kScaleOrientation) node->scaleOrientation = fields.scaleOrientation;
    if (fields.set & TransformFields::kCenter) node->center = fields.center;
    return node;
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
    pivot.setTranslate(-SbVec3d(chain[0]->record->pivot[0], chain[0]->record->pivot[1], chain[0]->record->pivot[2]));
    toPivot.multRight(pivot);
    toMirroredPivot = toPivot;
    SbDPMatrix k;
    k.setScale(SbVec3d(-1.0, 1.0, 1.0));
    toMirroredPivot.multRight(k);
}

InstancePlacement TransformBuilder::placementAt(uint32_t frame, bool matrixOnly) const {
    InstancePlacement placed;
    if (chain.empty()) return placed;
    const KeyframeNode& node = *chain[0]->record;

    SeparatePlacement separate;
    const SbDPMatrix world = worldMatrixAt(chain.data(), chain.size(), frame, matrixOnly ? nullptr : &separate);
    SbDPMatrix matrix;
    const bool hasMatrix = frameInvertible && instanceMatrix(world, matrix);
    if (hasMatrix) {
        placed.form = InstancePlacement::Form::Matrix;
        placed.reflects = matrix.det3() < 0.0;
        toFloat(matrix, placed.matrix);
    }
    if (matrixOnly) return placed;

    placed.nodeCount = separateNodes(separate, mesh, node, frameMirrored, frameInvertible, placed.nodes);
    if (hasMatrix && !placesAlike(matrixOf(placed.nodes, placed.nodeCount), matrix, world, mesh, node)) return placed;
    bool nodesFinite = true;
    for (int i = 0; i < placed.nodeCount; ++i) nodesFinite = nodesFinite && isFinite(placed.nodes[i]);
    if (!nodesFinite) {
        // Nothing finite to write: the stored vertices are already in place.
        placed.form = InstancePlacement::Form::Nothing;
        placed.reflects = false;
        return placed;
    }
    // Without a usable frame or instance matrix the separate nodes stay, and
    // with them the mirrored frame's clockwise order.
    placed.form = InstancePlacement::Form::Separate;
    if (!hasMatrix) placed.reflects = frameMirrored;
    return placed;
}

void TransformBuilder::buildTransforms(uint32_t frame, SoSeparator* objectSeparator, int& mirrored) const {
    const InstancePlacement placed = placementAt(frame);
    if (placed.form == InstancePlacement::Form::Matrix) {
        SoMatrixTransform* node = new SoMatrixTransform;
        node->matrix = placed.matrix;
        objectSeparator->addChild(node);
    } else if (placed.form == InstancePlacement::Form::Separate) {
        for (int i = 0; i < placed.nodeCount; ++i) objectSeparator->addChild(transformNode(placed.nodes[i]));
    }
    if (placed.reflects) mirrored = 1;
}

bool TransformBuilder::tracksCanMove() const {
    for (const LinkedNode* linked : chain) {
        const KeyframeNode* node = linked->record;
        if (node->positionKeyCount > 1 || node->rotationKeyCount > 1 || node->scaleKeyCount > 1) return true;
    }
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
