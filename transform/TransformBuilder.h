#pragma once

#include <cstdint>

#include "reader/ModelDatabase.h"

class SbDPMatrix;
class SbMatrix;
class SbVec3f;
class SbVec4f;
class SoSeparator;
class SoTransform;

namespace kestrav {

// Places one mesh instance by its keyframer node and its parents at the frame
// the file was saved at, and takes the stored vertices back into the mesh's
// local frame: with separate translation, rotation, mirror and scale nodes
// where they can do it, with one matrix where they cannot (a turned child of an
// unevenly scaled parent, a mirrored frame whose keys reflect as well).
class TransformBuilder {
public:
    // Places mesh as node shows it at frame; node's parents are looked up in
    // database. A null node places nothing.
    TransformBuilder(const ModelDatabase& database, uint32_t frame, const MeshRecord* mesh, const KeyframeNode* node);

    // Adds the transform nodes to parent; sets mirrored to 1 when they reflect
    // the stored triangles and leaves it alone otherwise.
    void buildTransforms(SoSeparator* parent, int& mirrored);

    // The world matrix of the node's parent chain at the frame (row vectors, as
    // Inventor's), the identity for a node without a parent; the mesh is not
    // used. Cameras and lights hang below a parent this way.
    void parentWorldMatrix(SbDPMatrix& out);
    // The single instance matrix at another frame, composed as the placement
    // composes it; reflects tells whether it reflects. False when the frame
    // has no usable inverse or the matrix no finite float form.
    bool instanceMatrixAt(uint32_t at, SbMatrix& out, bool& reflects);
    // Whether a track of the node or of one of its parents has more than one
    // key; if none has, the instance is placed alike at every frame.
    bool tracksCanMove();

private:
    // Parent chains deeper than this are cut, so no file can exhaust the stack.
    static constexpr int kMaxLineage = 256;
    static constexpr int kMaxPlacementNodes = 5;

    // The node's accumulated translation, rotation and scale, and its world
    // matrix, at the placement frame.
    void composeNode(const KeyframeNode* node, SbVec3f& t, SbVec4f& r, SbVec3f& s, SbDPMatrix& world);
    const KeyframeNode* resolveParent(const KeyframeNode* node) const;
    bool frameIsMirrored() const;
    bool frameIsInvertible() const;
    int separateNodes(const SbVec3f& t, const SbVec4f& r, const SbVec3f& s, bool mirror, bool invertible,
                      SoTransform** nodes) const;
    SoTransform* localFrame(bool invertible) const;
    bool instanceMatrix(const SbDPMatrix& world, bool mirror, SbDPMatrix& out) const;
    bool placesAlike(const SbMatrix& made, const SbDPMatrix& matrix, const SbDPMatrix& world) const;

    const ModelDatabase& nodeDatabase;
    uint32_t frame;
    const MeshRecord* currentMesh;
    const KeyframeNode* currentNode;
    // The nodes whose composition is under way, the instance's own node first.
    const KeyframeNode* lineage[kMaxLineage];
    int lineageDepth;
};

}  // namespace kestrav
