#include "convert/BinaryWriteAction.h"

#include <Inventor/SoOutput.h>
#include <Inventor/fields/SoFieldData.h>
#include <Inventor/fields/SoMFInt32.h>
#include <Inventor/fields/SoMFVec2f.h>
#include <Inventor/fields/SoMFVec3f.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/misc/SoProtoInstance.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoTextureCoordinate2.h>

#include <utility>

namespace kestrav {

// Coin keeps an action's type and method table with its class.
SO_ACTION_SOURCE(BinaryWriteAction);

namespace {

// Coin's flags after a field's value: none for a field that is neither
// ignored nor connected.
const unsigned int kPlainFieldFlags = 0;

// True when Coin writes the field as its name, values and no flags, and
// another field neither takes its values nor names its node.
bool isPlain(const SoField& field) {
    SoFieldList slaves;
    return !field.isIgnored() && !field.isConnected() && field.getForwardConnections(slaves) == 0;
}

// True when Coin writes the node as its type name, no flags and its fields:
// it is one of the array nodes itself (no subclass with a write of its own),
// written once without a DEF name, in no prototype, its fields all plain.
bool isPlainArrayNode(SoNode* node, SoOutput* out) {
    const SoType type = node->getTypeId();
    if (type != SoCoordinate3::getClassTypeId() && type != SoNormal::getClassTypeId() &&
        type != SoTextureCoordinate2::getClassTypeId() && type != SoIndexedFaceSet::getClassTypeId())
        return false;
    if (!out->isBinary() || node->getRefCount() != 1 || node->getName().getLength() != 0) return false;
    if (out->getCurrentProto() || SoProtoInstance::findProtoInstance(node)) return false;
    const SoFieldData* fields = node->getFieldData();
    for (int i = 0; i < fields->getNumFields(); ++i)
        if (!isPlain(*fields->getField(node, i))) return false;
    return true;
}

static_assert(sizeof(SbVec2f) == 2 * sizeof(float) && sizeof(SbVec3f) == 3 * sizeof(float),
              "an array of vectors is an array of their floats");

// Writes a plain field of values as Coin does, its name, their number, their
// words and its flags, but with the values in one array. False, with nothing
// written, for fields of other types.
bool writeArray(const SoField& field, const SbName& name, SoOutput* out) {
    const SoType type = field.getTypeId();
    const float* floats = nullptr;
    const int32_t* ints = nullptr;
    int count = 0, words = 0;
    if (type == SoMFInt32::getClassTypeId()) {
        const SoMFInt32& values = static_cast<const SoMFInt32&>(field);
        count = words = values.getNum();
        ints = values.getValues(0);
    } else if (type == SoMFVec2f::getClassTypeId()) {
        const SoMFVec2f& values = static_cast<const SoMFVec2f&>(field);
        count = values.getNum();
        words = 2 * count;
        if (count > 0) floats = values.getValues(0)[0].getValue();
    } else if (type == SoMFVec3f::getClassTypeId()) {
        const SoMFVec3f& values = static_cast<const SoMFVec3f&>(field);
        count = values.getNum();
        words = 3 * count;
        if (count > 0) floats = values.getValues(0)[0].getValue();
    } else {
        return false;
    }
    out->write(name.getString());
    out->write(count);
    if (ints) out->writeBinaryArray(ints, words);
    if (floats) out->writeBinaryArray(floats, words);
    out->write(kPlainFieldFlags);
    return true;
}

}  // namespace

BinaryWriteAction::BinaryWriteAction(SoOutput* output, PartFiller fillPart)
    : SceneWriteAction(output, std::move(fillPart)) {
    // Registered once, with Coin's own types, on first use.
    static const bool registered = (initClass(), true);
    (void)registered;
    SO_ACTION_CONSTRUCTOR(BinaryWriteAction);
}

void BinaryWriteAction::initClass() {
    SO_ACTION_INIT_CLASS(BinaryWriteAction, SceneWriteAction);
    SO_ACTION_ADD_METHOD(SoCoordinate3, writeNode);
    SO_ACTION_ADD_METHOD(SoNormal, writeNode);
    SO_ACTION_ADD_METHOD(SoTextureCoordinate2, writeNode);
    SO_ACTION_ADD_METHOD(SoIndexedFaceSet, writeNode);
}

// Counting references, and any node that is not plain, is Coin's; a plain
// node is written as Coin's SoNode::write would, with the arrays whole.
void BinaryWriteAction::writeNode(SoAction* action, SoNode* node) {
    SoOutput* out = static_cast<SoWriteAction*>(action)->getOutput();
    if (out->getStage() != SoOutput::WRITE || !isPlainArrayNode(node, out)) {
        SoNode::writeS(action, node);
        return;
    }
    const SoFieldData* fields = node->getFieldData();
    int written = 0;
    for (int i = 0; i < fields->getNumFields(); ++i) written += fields->getField(node, i)->shouldWrite() ? 1 : 0;
    // The node's type, its flags (neither group nor engine), the number of
    // fields that follow.
    out->write(node->getTypeId().getName().getString());
    out->write(0u);
    out->write(static_cast<unsigned int>(written));
    for (int i = 0; i < fields->getNumFields(); ++i) {
        const SoField& field = *fields->getField(node, i);
        if (!field.shouldWrite()) continue;
        const SbName name = fields->getFieldName(i);
        if (!writeArray(field, name, out)) field.write(out, name);
    }
}

}  // namespace kestrav
