#include "transform/AnimationBuilder.h"

#include <Inventor/SbMatrix.h>
#include <Inventor/engines/SoSelectOne.h>
#include <Inventor/engines/SoTimeCounter.h>
#include <Inventor/fields/SoMFInt32.h>
#include <Inventor/fields/SoMFMatrix.h>
#include <Inventor/nodes/SoMatrixTransform.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoSwitch.h>

#include <algorithm>
#include <cmath>

#include "transform/KeyframeTrack.h"
#include "transform/TransformBuilder.h"

namespace kestrav {

namespace {

// The 3DS keyframer plays 30 frames a second; files store no other rate.
constexpr float kFramesPerSecond = 30.0f;
// Matrices closer than this, relative to their largest entry, place alike:
// keys that hold a value may still differ in the last bits once evaluated.
constexpr float kSamePlacement = 1e-6f;

bool placesAlike(const SbMatrix& a, const SbMatrix& b) {
    float largest = 0.0f;
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) largest = std::max({largest, std::fabs(a[row][col]), std::fabs(b[row][col])});
    const float tolerance = kSamePlacement * (1.0f + largest);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col)
            if (!(std::fabs(a[row][col] - b[row][col]) <= tolerance)) return false;
    return true;
}

}  // namespace

AnimationBuilder::AnimationBuilder(const ModelDatabase& model, uint32_t placementFrame)
    : database(model), placement(placementFrame) {
    uint32_t first = 0, last = 0;
    if (!animationSegment(database.keyframeList(), first, last)) return;
    const uint64_t length = uint64_t(last) - first + 1;
    const uint64_t samples = std::min<uint64_t>(length, kMaxSamples);
    segmentLength = uint32_t(std::min<uint64_t>(length, UINT32_MAX));
    sampleFrames.resize(size_t(samples));
    for (uint64_t i = 0; i < samples; ++i) sampleFrames[size_t(i)] = uint32_t(first + i * length / samples);
}

AnimationBuilder::~AnimationBuilder() {
    if (counter) counter->unref();
}

bool AnimationBuilder::buildMovingTransform(const MeshRecord& mesh, const NodeChain& chain, SoSeparator* parent,
                                            int& mirrored) {
    if (chain.empty() || sampleFrames.empty()) return false;
    const TransformBuilder transforms(mesh, chain);
    if (!transforms.tracksCanMove()) return false;
    const InstancePlacement saved = transforms.placementAt(placement, true);
    if (saved.form != InstancePlacement::Form::Matrix) return false;

    std::vector<SbMatrix> matrices(sampleFrames.size());
    std::vector<bool> changed(sampleFrames.size(), false);
    bool moves = false, reflectionChanges = false;
    for (size_t i = 0; i < sampleFrames.size(); ++i) {
        const InstancePlacement placed = transforms.placementAt(sampleFrames[i], true);
        if (placed.form != InstancePlacement::Form::Matrix) return false;
        matrices[i] = placed.matrix;
        moves = moves || !placesAlike(matrices[i], saved.matrix);
        reflectionChanges = reflectionChanges || placed.reflects != saved.reflects;
        changed[i] = i > 0 && !placesAlike(matrices[i], matrices[i - 1]);
    }
    if (!moves) return false;

    SoSelectOne* frames = buildFrameSelect(SoMFMatrix::getClassTypeId());
    static_cast<SoMFMatrix*>(frames->input)->setValues(0, int(matrices.size()), matrices.data());
    SoMatrixTransform* placed = new SoMatrixTransform;
    placed->matrix = saved.matrix;
    placed->matrix.connectFrom(frames->output);
    parent->addChild(placed);
    if (saved.reflects) mirrored = 1;

    AnimatedPart& part = partFor(chain[0]->record);
    part.moves = true;
    part.reflectionChanges = reflectionChanges;
    noteChanges(part, changed);
    return true;
}

void AnimationBuilder::buildVisibility(const KeyframeNode* node, SoSeparator* parent, int firstContent) {
    if (!node || node->hideKeyCount == 0 || sampleFrames.empty()) return;
    const bool savedVisible = visibleAt(*node, placement);
    std::vector<int32_t> choices(sampleFrames.size());
    std::vector<bool> changed(sampleFrames.size(), false);
    bool hides = false;
    for (size_t i = 0; i < sampleFrames.size(); ++i) {
        const bool visible = visibleAt(*node, sampleFrames[i]);
        choices[i] = visible ? SO_SWITCH_ALL : SO_SWITCH_NONE;
        hides = hides || visible != savedVisible;
        changed[i] = i > 0 && choices[i] != choices[i - 1];
    }
    if (!hides) return;

    SoSelectOne* shown = buildFrameSelect(SoMFInt32::getClassTypeId());
    static_cast<SoMFInt32*>(shown->input)->setValues(0, int(choices.size()), choices.data());
    SoSwitch* content = new SoSwitch;
    content->whichChild = savedVisible ? SO_SWITCH_ALL : SO_SWITCH_NONE;
    content->whichChild.connectFrom(shown->output);
    content->ref();
    while (parent->getNumChildren() > firstContent) {
        content->addChild(parent->getChild(firstContent));
        parent->removeChild(firstContent);
    }
    parent->addChild(content);
    content->unref();

    AnimatedPart& part = partFor(node);
    part.hides = true;
    noteChanges(part, changed);
}

SoSelectOne* AnimationBuilder::buildFrameSelect(SoType inputType) {
    SoSelectOne* select = new SoSelectOne(inputType);
    select->index.connectFrom(&sharedCounter()->output);
    return select;
}

// Counts 0 to the last sample once per pass through the segment, so the scene
// loops at the keyframer's own speed.
SoTimeCounter* AnimationBuilder::sharedCounter() {
    if (!counter) {
        counter = new SoTimeCounter;
        counter->ref();
        counter->min = 0;
        counter->max = short(sampleFrames.size() - 1);
        counter->frequency = kFramesPerSecond / float(segmentLength);
    }
    return counter;
}

AnimationBuilder::AnimatedPart& AnimationBuilder::partFor(const KeyframeNode* node) {
    if (parts.empty() || lastPartNode != node) {
        std::string name = node->name;
        if (node->instanceName[0] != '\0') name += std::string(".") + node->instanceName;
        parts.push_back({name, UINT32_MAX, 0, false, false, false});
        lastPartNode = node;
    }
    return parts.back();
}

void AnimationBuilder::noteChanges(AnimatedPart& part, const std::vector<bool>& changed) {
    for (size_t i = 1; i < changed.size(); ++i) {
        if (!changed[i]) continue;
        part.firstFrame = std::min(part.firstFrame, sampleFrames[i - 1]);
        part.lastFrame = std::max(part.lastFrame, sampleFrames[i]);
    }
    // Moving only against the saved frame: the whole segment differs from it.
    if (part.firstFrame > part.lastFrame) {
        part.firstFrame = sampleFrames.front();
        part.lastFrame = sampleFrames.back();
    }
}

}  // namespace kestrav
