#pragma once

#include <Inventor/SbDPMatrix.h>
#include <Inventor/SbVec3f.h>
#include <Inventor/SbVec4f.h>

#include <cstddef>
#include <cstdint>

#include "transform/ModelLinks.h"

namespace kestrav {

// A placement as one translation, one turn (axis, then angle in the keys'
// sense) and one scale, composed in floats down the chain as separate
// Transform nodes hold it. It places alike with the world matrix unless a
// turned node sits below an unevenly scaled one.
struct SeparatePlacement {
    SbVec3f translation{0.0f, 0.0f, 0.0f};
    SbVec4f rotation{1.0f, 0.0f, 0.0f, 0.0f};
    SbVec3f scale{1.0f, 1.0f, 1.0f};
};

// The world matrix (row vectors, as Inventor's) of chain[0] at the frame: each
// node's scale, turn and position in its parent's space, from the root,
// chain[length - 1], down; the identity for an empty chain. With separate, the
// same placement in that form too, from the same evaluation of the tracks.
// Pure: reads only the nodes, so any thread may call it.
SbDPMatrix worldMatrixAt(const LinkedNode* const* chain, size_t length, uint32_t frame,
                         SeparatePlacement* separate = nullptr);

}  // namespace kestrav
