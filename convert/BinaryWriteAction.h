#pragma once

#include <Inventor/actions/SoSubAction.h>

#include "convert/SceneWriteAction.h"

namespace kestrav {

// The write action for a binary scene. Coin 4 writes a multiple-value
// field value by value, through three or more virtual calls each, while
// coordinates, normals, texture coordinates and face sets hold nearly all of
// a big scene's bytes. Those nodes are written here with each array of values
// handed to the output whole, in the same bytes as Coin's: only when Coin
// would write nothing but the node's type and fields. A node with a name, a
// second reference, a connection into or out of a field, or an ignored field
// is written by Coin, as is every other node.
class BinaryWriteAction : public SceneWriteAction {
    SO_ACTION_HEADER(BinaryWriteAction);

public:
    // fillPart as for SceneWriteAction.
    BinaryWriteAction(SoOutput* output, PartFiller fillPart);

private:
    static void initClass();
    static void writeNode(SoAction* action, SoNode* node);
};

}  // namespace kestrav
