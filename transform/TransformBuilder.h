#pragma once

#include <Inventor/SbDPMatrix.h>
#include <Inventor/SbMatrix.h>
#include <Inventor/SbRotation.h>
#include <Inventor/SbVec3f.h>

#include <cstdint>

#include "reader/ModelRecords.h"
#include "transform/ModelLinks.h"

class SoSeparator;

namespace kestrav {

// The values of one Transform node, and which fields it sets: a set field is
// written even when it holds its default.
struct TransformFields {
    enum : uint8_t { kTranslation = 1, kRotation = 2, kScaleFactor = 4, kScaleOrientation = 8, kCenter = 16 };
    uint8_t set = 0;
    SbVec3f translation{0.0f, 0.0f, 0.0f};
    SbRotation rotation;
    SbVec3f scaleFactor{1.0f, 1.0f, 1.0f};
    SbRotation scaleOrientation;
    SbVec3f center{0.0f, 0.0f, 0.0f};
};

// How the scene places one instance at one frame: what the placement nodes
// hold, before any node is made.
struct InstancePlacement {
    enum class Form {
        Nothing,   // no finite placement: the stored vertices stay where they are
        Separate,  // Transform nodes, the last nearest the shape
        Matrix,    // one MatrixTransform
    };
    static constexpr int kMaxNodes = 5;

    Form form = Form::Nothing;
    TransformFields nodes[kMaxNodes];
    int nodeCount = 0;
    SbMatrix matrix;
    bool reflects = false;  // the placement reflects the stored triangles
};

// Places one mesh instance by its node's chain, and takes the stored vertices
// back into the mesh's local frame. The instance matrix comes from the chain's
// world matrix; the scene holds it as separate translation, rotation, mirror
// and scale nodes where they make the same matrix, as one matrix where they
// cannot (a turned child of an unevenly scaled parent, a mirrored frame whose
// keys reflect as well). Holds no state between queries, so they are const.
class TransformBuilder {
public:
    // The mesh and its node's chain; an empty chain places nothing. Both must
    // outlive the builder.
    TransformBuilder(const MeshRecord& mesh, const NodeChain& chain);

    // The placement at the frame, the one place its node values come from.
    // With matrixOnly, the form animation keys frame by frame: the instance
    // matrix, or Nothing when the mesh's frame has no usable inverse or the
    // matrix no finite float form. Without it, the separate nodes where they
    // make the instance matrix, else the matrix, else the separate nodes
    // while they are finite.
    InstancePlacement placementAt(uint32_t frame, bool matrixOnly = false) const;

    // Adds the placement's nodes at the frame to parent; sets mirrored to 1
    // when they reflect the stored triangles and leaves it alone otherwise.
    void buildTransforms(uint32_t frame, SoSeparator* parent, int& mirrored) const;

    // Whether a track of the chain has more than one key; if none has, the
    // instance is placed alike at every frame.
    bool tracksCanMove() const;

private:
    bool instanceMatrix(const SbDPMatrix& world, SbDPMatrix& out) const;

    const MeshRecord& mesh;
    const NodeChain& chain;
    const bool frameMirrored;
    const bool frameInvertible;
    // F^-1 x Tr(-P): the stored vertices back into the mesh's frame F, moved
    // by the pivot P; and the same mirrored by Sc(-1, 1, 1).
    SbDPMatrix toPivot;
    SbDPMatrix toMirroredPivot;
};

}  // namespace kestrav
