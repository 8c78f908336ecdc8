#pragma once

#include "reader/ModelDatabase.h"
#include "transform/ModelLinks.h"

class SoLight;
class SoPerspectiveCamera;

namespace kestrav {

class AnimationBuilder;

// Keeps the motion of the file's cameras and lights with the engines of the
// mesh parts: each field whose value changes over the segment (a camera's
// position, orientation and height angle, a light's location and direction)
// follows a SelectOne of its value at every frame, indexed by the scene's
// counter. Fields that hold still keep the value the placement gave them.
class LightingAnimation {
public:
    LightingAnimation(const ModelDatabase& database, const ModelLinks& links, AnimationBuilder& animation);

    void animateCamera(const CameraRecord& record, SoPerspectiveCamera* camera);
    void animateLight(const LightRecord& record, SoLight* light);

private:
    const ModelDatabase& database;
    const ModelLinks& links;
    AnimationBuilder& animation;
};

}  // namespace kestrav
