#pragma once

#include <Inventor/SbDPMatrix.h>

#include <cstdint>

#include "reader/ModelRecords.h"
#include "transform/ModelLinks.h"

class SbMatrix;
class SoSeparator;

namespace kestrav {

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

    // Adds the transform nodes for the frame to parent; sets mirrored to 1 when
    // they reflect the stored triangles and leaves it alone otherwise.
    void buildTransforms(uint32_t frame, SoSeparator* parent, int& mirrored) const;

    // The single instance matrix at the frame; reflects tells whether it
    // reflects. False when the mesh's frame has no usable inverse or the
    // matrix no finite float form.
    bool instanceMatrixAt(uint32_t frame, SbMatrix& out, bool& reflects) const;
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
