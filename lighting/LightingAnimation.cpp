#include "lighting/LightingAnimation.h"

#include <Inventor/engines/SoSelectOne.h>
#include <Inventor/fields/SoMFFloat.h>
#include <Inventor/fields/SoMFRotation.h>
#include <Inventor/fields/SoMFVec3f.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoPointLight.h>
#include <Inventor/nodes/SoSpotLight.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "lighting/LightingPlacement.h"
#include "transform/AnimationBuilder.h"

namespace kestrav {

namespace {

// Values closer than this, relative to their size, stand alike: tracks that
// hold still may still differ in the last bits once evaluated.
constexpr float kSameValue = 1e-6f;

bool alike(float a, float b) { return std::fabs(a - b) <= kSameValue * (1.0f + std::max(std::fabs(a), std::fabs(b))); }

bool alike(const SbVec3f& a, const SbVec3f& b) {
    for (int i = 0; i < 3; ++i)
        if (!alike(a[i], b[i])) return false;
    return true;
}

bool alike(const SbRotation& a, const SbRotation& b) {
    const float* p = a.getValue();
    const float* q = b.getValue();
    for (int i = 0; i < 4; ++i)
        if (!alike(p[i], q[i])) return false;
    return true;
}

// Connects field to a SelectOne of values when some value differs from the
// field's own; the field keeps that value as its written one otherwise.
template <class MultipleField, class Field, class Value>
void follow(AnimationBuilder& animation, Field& field, const std::vector<Value>& values) {
    const Value saved = field.getValue();
    if (std::all_of(values.begin(), values.end(), [&](const Value& v) { return alike(v, saved); })) return;
    SoSelectOne* select = animation.buildFrameSelect(MultipleField::getClassTypeId());
    static_cast<MultipleField*>(select->input)->setValues(0, int(values.size()), values.data());
    field.connectFrom(select->output);
}

}  // namespace

LightingAnimation::LightingAnimation(const ModelDatabase& model, const ModelLinks& modelLinks,
                                     AnimationBuilder& builder)
    : database(model), links(modelLinks), animation(builder) {}

void LightingAnimation::animateCamera(const CameraRecord& record, SoPerspectiveCamera* camera) {
    const std::vector<uint32_t>& frames = animation.frames();
    if (frames.empty()) return;
    std::vector<SbVec3f> positions;
    std::vector<SbRotation> orientations;
    std::vector<float> heightAngles;
    for (uint32_t frame : frames) {
        const CameraView view = LightingPlacement(database, links, frame).cameraAt(record);
        positions.push_back(view.position);
        orientations.push_back(CameraBuilder::orientationOf(view));
        heightAngles.push_back(CameraBuilder::heightAngleOf(view));
    }
    follow<SoMFVec3f>(animation, camera->position, positions);
    follow<SoMFRotation>(animation, camera->orientation, orientations);
    follow<SoMFFloat>(animation, camera->heightAngle, heightAngles);
}

void LightingAnimation::animateLight(const LightRecord& record, SoLight* light) {
    const std::vector<uint32_t>& frames = animation.frames();
    if (frames.empty()) return;
    SoSpotLight* spot = light->isOfType(SoSpotLight::getClassTypeId()) ? static_cast<SoSpotLight*>(light) : nullptr;
    std::vector<SbVec3f> locations, directions;
    for (uint32_t frame : frames) {
        const LightShape shape = LightingPlacement(database, links, frame).lightAt(record);
        locations.push_back(shape.position);
        // A target on the light keeps the direction the light was built with.
        SbVec3f direction = spot ? spot->direction.getValue() : SbVec3f(0.0f, 0.0f, 0.0f);
        LightBuilder::directionOf(shape, direction);
        directions.push_back(direction);
    }
    if (spot) {
        follow<SoMFVec3f>(animation, spot->location, locations);
        follow<SoMFVec3f>(animation, spot->direction, directions);
    } else if (light->isOfType(SoPointLight::getClassTypeId())) {
        follow<SoMFVec3f>(animation, static_cast<SoPointLight*>(light)->location, locations);
    }
}

}  // namespace kestrav
