#pragma once

#include <Inventor/actions/SoSubAction.h>
#include <Inventor/actions/SoWriteAction.h>

#include <exception>

#include "convert/SceneWriter.h"

namespace kestrav {

// Coin's write action for a scene whose parts are built only as the write
// reaches them. A part is a separator left empty: fillPart fills it just
// before it is written, its references are counted then, as Coin would have
// counted them with the rest, and once the write goes on past it its nodes are
// emptied of their values, so that no more than one part is held at once.
// The emptied nodes stay in the scene until the write ends: a node made later
// never takes the place of one Coin has seen. A part must share no node with
// the rest of the scene, and hold no field that an engine or another field
// drives.
class SceneWriteAction : public SoWriteAction {
    SO_ACTION_HEADER(SceneWriteAction);

public:
    // fillPart may be empty: a scene without parts.
    SceneWriteAction(SoOutput* output, PartFiller fillPart);

    // Rethrows what fillPart threw, once apply has returned: the traversal
    // ended at the part it was filling, and what was written is to be thrown
    // away.
    void rethrowFailure() const;

private:
    static void initClass();
    static void writeSeparator(SoAction* action, SoNode* node);

    PartFiller fill;
    SoNode* written = nullptr;  // the part written last, not yet emptied
    std::exception_ptr failure;
};

}  // namespace kestrav
