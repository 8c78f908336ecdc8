#include "transform/TransformBuilder.h"

#include <Inventor/SbMatrix.h>
#include <Inventor/SbRotation.h>
#include <Inventor/SbVec3f.h>
#include <Inventor/SbVec4f.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTransform.h>

#include <cmath>

#include "geometry/VectorOps.h"

namespace {

bool axisIsNonzero(const SbVec3f& axis) { return axis[0] != 0.0f || axis[1] != 0.0f || axis[2] != 0.0f; }

SbVec3f positionKey(const KeyframeNode* node) {
    return node->positionKeyCount != 0 ? SbVec3f(node->positionValues) : SbVec3f(0.0f, 0.0f, 0.0f);
}

// Key 0 of the node's rotation track, when it has one with a nonzero axis.
bool ownRotation(const KeyframeNode* node, SbVec3f& axis, float& angle) {
    if (node->rotationKeyCount == 0) return false;
    const float* key = node->rotationValues;  // angle, then axis x, y, z
    axis.setValue(key[1], key[2], key[3]);
    angle = key[0];
    return axisIsNonzero(axis);
}

SbMatrix rotationMatrix(const SbVec3f& axis, float angle) {
    SbMatrix m;
    m.setRotate(SbRotation(axis, angle));
    return m;
}

bool isFinite(const SbVec3f& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

// What setMatrix would store, checked before it is stored: a nearly singular
// frame has an inverse too large for floats, and its decomposition would be
// written as nan or inf.
bool decomposesFinitely(const SbMatrix& m) {
    SbVec3f translation, scale;
    SbRotation rotation, scaleOrientation;
    m.getTransform(translation, rotation, scale, scaleOrientation);
    const float* q = rotation.getValue();
    const float* so = scaleOrientation.getValue();
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(q[i]) || !std::isfinite(so[i])) return false;
    return isFinite(translation) && isFinite(scale);
}

}  // namespace

TransformBuilder::TransformBuilder(SceneConverter* converter)
    : nodeDatabase(converter->getDatabase()), lineage{}, lineageDepth(0) {
    objectSeparator = converter->getObjectSeparator();
    currentMesh = converter->getCurrentMesh();
    currentNode = converter->getCurrentNode();
}

void TransformBuilder::buildTransforms(int& mirrored) {
    if (!currentNode) return;

    SbVec3f t(0.0f, 0.0f, 0.0f);
    SbVec4f r(0.0f, 0.0f, 0.0f, 0.0f);
    SbVec3f s(0.0f, 0.0f, 0.0f);
    lineageDepth = 0;
    composeNode(currentNode, t, r, s);

    const SbVec3f origin(&currentMesh->matrix[9]);

    SoTransform* placement = new SoTransform;
    placement->translation = t - origin;
    placement->center = origin;
    objectSeparator->addChild(placement);

    const SbVec3f axis(r[0], r[1], r[2]);
    if (axisIsNonzero(axis)) {
        SoTransform* rotation = new SoTransform;
        rotation->rotation = SbRotation(axis, -r[3]);
        rotation->center = origin;
        objectSeparator->addChild(rotation);
    }

    if (frameIsMirrored()) {
        SoTransform* mirror = new SoTransform;
        mirror->scaleFactor.setValue(-1.0f, 1.0f, 1.0f);
        mirror->center = origin;
        objectSeparator->addChild(mirror);
        mirrored = 1;
    }

    SoTransform* scale = new SoTransform;
    scale->scaleFactor = s;
    scale->center = origin;
    objectSeparator->addChild(scale);

    addLocalFrame();
}

void TransformBuilder::composeNode(const KeyframeNode* node, SbVec3f& t, SbVec4f& r, SbVec3f& s) {
    const KeyframeNode* parent = resolveParent(node);
    if (!parent) {
        t = positionKey(node);
        if (node->rotationKeyCount != 0) {
            const float* key = node->rotationValues;
            r.setValue(key[1], key[2], key[3], key[0]);
        } else {
            r.setValue(1.0f, 0.0f, 0.0f, 0.0f);
        }
        s = node->scaleKeyCount != 0 ? SbVec3f(node->scaleValues) : SbVec3f(1.0f, 1.0f, 1.0f);
        return;
    }

    lineage[lineageDepth++] = node;
    composeNode(parent, t, r, s);
    --lineageDepth;

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
    k.multVecMatrix(positionKey(node), scaled);
    b.multVecMatrix(scaled, turned);
    a.multVecMatrix(turned, t);

    SbVec3f axis;
    float angle = 0.0f;
    const bool turns = ownRotation(node, axis, angle);

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
    if (node->scaleKeyCount != 0) {
        const float* key = node->scaleValues;
        s.setValue(s[0] * key[0], s[1] * key[1], s[2] * key[2]);
    }
}

// The node's parent, or null when the node is placed as a root: it names no
// parent, the parent is not in the file, following the link would come back to
// a node whose composition is under way (a cycle), or the chain is too deep.
const KeyframeNode* TransformBuilder::resolveParent(const KeyframeNode* node) const {
    if (node->parentName[0] == '\0' || lineageDepth >= kMaxLineage) return nullptr;
    KeyframeNode* parent = nullptr;
    nodeDatabase->lookupNode(node->parentName, parent);
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

void TransformBuilder::addLocalFrame() {
    const float* m = currentMesh->matrix;
    const SbMatrix frame(m[0], m[1], m[2], 0.0f, m[3], m[4], m[5], 0.0f, m[6], m[7], m[8], 0.0f, 0.0f, 0.0f, 0.0f,
                         1.0f);
    SoTransform* local = new SoTransform;
    // Axes without a usable inverse leave the stored vertices unturned and
    // unscaled; the pivot and origin still apply.
    if (frame.det3() != 0.0f) {
        const SbMatrix inverse = frame.inverse();
        if (decomposesFinitely(inverse)) local->setMatrix(inverse);
    }
    const SbVec3f pivot(currentNode->pivot);
    local->translation = -pivot;
    local->center = SbVec3f(&m[9]);
    objectSeparator->addChild(local);
}
