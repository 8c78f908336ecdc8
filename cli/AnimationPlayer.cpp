#include "cli/AnimationPlayer.h"

#include <Inventor/SbString.h>
#include <Inventor/engines/SoTimeCounter.h>
#include <Inventor/lists/SoFieldList.h>
#include <Inventor/nodes/SoNode.h>

#include <cstdlib>
#include <string>

#include "appearance/NodesOfType.h"

namespace kestrav {

namespace {

// The counter behind a field, through the engines between them (a SelectOne
// in kestrav's scenes).
SoTimeCounter* counterBehind(SoField* field, int depth) {
    SoEngineOutput* output = nullptr;
    if (depth == 0 || !field->getConnectedEngine(output)) return nullptr;
    SoFieldContainer* engine = output->getContainer();
    if (engine->isOfType(SoTimeCounter::getClassTypeId())) return static_cast<SoTimeCounter*>(engine);
    SoFieldList inputs;
    engine->getFields(inputs);
    for (int i = 0; i < inputs.getLength(); ++i)
        if (SoTimeCounter* counter = counterBehind(inputs[i], depth - 1)) return counter;
    return nullptr;
}

SoTimeCounter* findCounter(SoNode* root) {
    for (SoNode* node : nodesOfType(root, SoNode::getClassTypeId())) {
        SoFieldList fields;
        node->getFields(fields);
        for (int i = 0; i < fields.getLength(); ++i)
            if (SoTimeCounter* counter = counterBehind(fields[i], 4)) return counter;
    }
    return nullptr;
}

int fieldNumber(SoField* field) {
    SbString text;
    field->get(text);
    return std::atoi(text.getString());
}

}  // namespace

AnimationPlayer::AnimationPlayer(SoNode* root) : counter(root ? findCounter(root) : nullptr) {}

int AnimationPlayer::lastFrame() const {
    return counter ? counter->max.getValue() - counter->min.getValue() : 0;
}

void AnimationPlayer::togglePause() {
    if (!counter) return;
    SoFieldList parts;
    counter->output.getForwardConnections(parts);
    if (!isPaused) {
        // Read first: the counter stops at the last value it was asked for.
        counterFrame = parts.getLength() > 0 ? fieldNumber(parts[0]) - counter->min.getValue() : 0;
        counter->on = FALSE;
        pausedFrame = counterFrame;
        driveParts(false);
        isPaused = true;
        return;
    }
    driveParts(true);
    counter->on = TRUE;
    // The counter goes on from where it stopped unless a step moved away.
    if (pausedFrame != counterFrame) counter->reset = short(counter->min.getValue() + pausedFrame);
    isPaused = false;
}

void AnimationPlayer::step(int count) {
    if (!counter || !isPaused) return;
    const int frames = lastFrame() + 1;
    showFrame(((pausedFrame + count) % frames + frames) % frames);
}

void AnimationPlayer::rewind() {
    if (!counter) return;
    if (isPaused)
        showFrame(0);
    else
        counter->reset = counter->min.getValue();
}

// The parts' connections stay, switched off while paused: the counter cannot
// be set to a frame exactly (it may land one short), so a paused frame is set
// on the parts themselves.
void AnimationPlayer::showFrame(int shownFrame) {
    pausedFrame = shownFrame;
    SoFieldList parts;
    counter->output.getForwardConnections(parts);
    const std::string value = std::to_string(counter->min.getValue() + shownFrame);
    for (int i = 0; i < parts.getLength(); ++i) parts[i]->set(value.c_str());
}

void AnimationPlayer::driveParts(bool byCounter) {
    SoFieldList parts;
    counter->output.getForwardConnections(parts);
    for (int i = 0; i < parts.getLength(); ++i) parts[i]->enableConnection(byCounter);
}

}  // namespace kestrav
