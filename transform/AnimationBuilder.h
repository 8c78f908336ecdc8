#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Inventor/SoType.h>

#include "reader/ModelDatabase.h"
#include "transform/ModelLinks.h"

class SbMatrix;
class SoSelectOne;
class SoSeparator;
class SoTimeCounter;

namespace kestrav {

// Keeps the keyframer's motion as Inventor engines: one TimeCounter for the
// scene counts the frames of the animation at 30 a second, and each instance
// that moves takes its matrix, and each one that hides takes its visibility,
// from a SelectOne that the counter indexes. Instances that do not move keep
// the nodes the static placement gives them.
class AnimationBuilder {
public:
    // An instance that moves or hides, for figures about the model.
    struct AnimatedPart {
        std::string name;        // the node's name, with ".instance" when it has one
        uint32_t firstFrame;     // the motion or visibility changes from here...
        uint32_t lastFrame;      // ...to here
        bool moves;
        bool hides;
        bool reflectionChanges;  // the matrix reflects at some frames only
    };

    AnimationBuilder(const ModelDatabase& database, uint32_t placement);
    ~AnimationBuilder();
    AnimationBuilder(const AnimationBuilder&) = delete;
    AnimationBuilder& operator=(const AnimationBuilder&) = delete;

    // Adds to parent one MatrixTransform that follows the instance, placed by
    // its node's chain, through the animation, and sets mirrored to 1 when the
    // saved frame's matrix reflects. False, adding nothing, when the instance
    // is placed alike at every frame or some frame has no usable matrix.
    bool buildMovingTransform(const MeshRecord& mesh, const NodeChain& chain, SoSeparator* parent, int& mirrored);
    // Moves parent's children from firstContent on under a Switch that follows
    // the node's hide track, when the track changes what the saved frame shows.
    void buildVisibility(const KeyframeNode* node, SoSeparator* parent, int firstContent);

    const std::vector<AnimatedPart>& animatedParts() const { return parts; }

    // The frame each counter value shows; empty when nothing plays.
    const std::vector<uint32_t>& frames() const { return sampleFrames; }
    // A SelectOne over a multiple-value field of the given type, one value per
    // frame, indexed by the scene's counter.
    SoSelectOne* buildFrameSelect(SoType inputType);

private:
    // The longest animation kept frame by frame, five minutes; a longer one
    // is sampled at this many evenly spaced frames.
    static constexpr uint32_t kMaxSamples = 9000;

    SoTimeCounter* sharedCounter();
    AnimatedPart& partFor(const KeyframeNode* node);
    void noteChanges(AnimatedPart& part, const std::vector<bool>& changed);

    const ModelDatabase& database;
    const uint32_t placement;
    uint32_t segmentLength = 0;         // frames in the segment; 0: nothing plays
    std::vector<uint32_t> sampleFrames;  // the frame each counter value shows
    SoTimeCounter* counter = nullptr;
    std::vector<AnimatedPart> parts;
    const KeyframeNode* lastPartNode = nullptr;
};

}  // namespace kestrav
