#include "convert/SceneWriteAction.h"

#include <Inventor/SoOutput.h>
#include <Inventor/fields/SoFieldData.h>
#include <Inventor/fields/SoMField.h>
#include <Inventor/misc/SoChildList.h>
#include <Inventor/nodes/SoSeparator.h>

#include <utility>

namespace kestrav {

// Coin keeps an action's type and method table with its class.
SO_ACTION_SOURCE(SceneWriteAction);

namespace {

// Frees the values of every node under node, node included; nothing is told,
// as nothing reads them again.
void emptyValues(SoNode* node) {
    node->enableNotify(FALSE);
    if (const SoFieldData* fields = node->getFieldData()) {
        for (int i = 0; i < fields->getNumFields(); ++i) {
            SoField* field = fields->getField(node, i);
            if (field->isOfType(SoMField::getClassTypeId())) static_cast<SoMField*>(field)->setNum(0);
        }
    }
    if (SoChildList* children = node->getChildren())
        for (int i = 0; i < children->getLength(); ++i) emptyValues((*children)[i]);
}

}  // namespace

SceneWriteAction::SceneWriteAction(SoOutput* output, PartFiller fillPart)
    : SoWriteAction(output), fill(std::move(fillPart)) {
    // Registered once, with Coin's own types, on first use.
    static const bool registered = (initClass(), true);
    (void)registered;
    SO_ACTION_CONSTRUCTOR(SceneWriteAction);
}

void SceneWriteAction::initClass() {
    SO_ACTION_INIT_CLASS(SceneWriteAction, SoWriteAction);
    SO_ACTION_ADD_METHOD(SoSeparator, writeSeparator);
}

void SceneWriteAction::rethrowFailure() const {
    if (failure) std::rethrow_exception(failure);
}

void SceneWriteAction::writeSeparator(SoAction* action, SoNode* node) {
    SceneWriteAction* self = static_cast<SceneWriteAction*>(action);
    SoOutput* out = self->getOutput();
    if (out->getStage() != SoOutput::WRITE || !self->fill || self->failure) {
        SoNode::writeS(action, node);
        return;
    }
    // The part written last is emptied once the write goes on: the last of
    // all is left as it is, as nothing is made after it.
    if (self->written) {
        emptyValues(self->written);
        self->written = nullptr;
    }
    bool filled = false;
    try {
        filled = self->fill(node);
    } catch (...) {
        self->failure = std::current_exception();
        // Nothing of the part was counted or written: it goes, and so does
        // the rest of the write, which is to be thrown away.
        static_cast<SoSeparator*>(node)->removeAllChildren();
        self->setTerminated(TRUE);
        return;
    }
    if (filled) {
        // The count Coin made before writing saw the part empty.
        out->setStage(SoOutput::COUNT_REFS);
        node->getChildren()->traverse(action);
        out->setStage(SoOutput::WRITE);
    }
    SoNode::writeS(action, node);
    if (filled) self->written = node;
}

}  // namespace kestrav
