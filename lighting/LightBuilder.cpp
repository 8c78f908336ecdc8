#include "lighting/LightBuilder.h"

#include <Inventor/nodes/SoEnvironment.h>
#include <Inventor/nodes/SoPointLight.h>
#include <Inventor/nodes/SoSpotLight.h>

#include <algorithm>
#include <cmath>

#include "geometry/VectorOps.h"
#include "lighting/InventorName.h"

namespace kestrav {

namespace {
constexpr float kPi = 3.14159265358979f;
constexpr float kRadiansPerDegree = kPi / 180.0f;
// OpenGL's spot exponent is 128 times Inventor's drop-off rate.
constexpr float kLargestExponent = 128.0f;

float unitClamped(float v) { return v > 0.0f ? std::min(v, 1.0f) : 0.0f; }

SbColor colourOf(const SbVec3f& c) { return SbColor(unitClamped(c[0]), unitClamped(c[1]), unitClamped(c[2])); }
}  // namespace

float dropOffRateOf(float hotspot, float falloff) {
    const float outer = 0.5f * std::min(std::max(falloff, 0.0f), 180.0f);
    const float inner = 0.5f * std::min(std::max(hotspot, 0.0f), std::max(falloff, 0.0f));
    // 3D Studio fades linearly from the hotspot's edge to the falloff's;
    // Inventor's cos^exponent fall-off is matched at the fade's midpoint.
    const float middle = 0.5f * (inner + outer) * kRadiansPerDegree;
    const float cosine = std::cos(middle);
    if (!(middle > 0.0f) || !(cosine > 0.0f) || cosine >= 1.0f) return 0.0f;
    return unitClamped(std::log(0.5f) / std::log(cosine) / kLargestExponent);
}

LightBuilder::LightBuilder(const std::string& name, const LightShape& shape) : objectName(name), lightShape(shape) {}

SoLight* LightBuilder::buildLight() const {
    SoLight* light;
    if (lightShape.spot) {
        SoSpotLight* spot = new SoSpotLight;
        spot->location = lightShape.position;
        SbVec3f direction;
        if (directionOf(lightShape, direction)) spot->direction = direction;
        const float cutOff = 0.5f * lightShape.falloff * kRadiansPerDegree;
        spot->cutOffAngle = cutOff > 0.0f ? std::min(cutOff, 0.5f * kPi) : 0.0f;
        spot->dropOffRate = dropOffRateOf(lightShape.hotspot, lightShape.falloff);
        light = spot;
    } else {
        SoPointLight* point = new SoPointLight;
        point->location = lightShape.position;
        light = point;
    }
    nameAfterObject(light, objectName);
    light->color = colourOf(lightShape.colour);
    light->intensity = unitClamped(lightShape.multiplier);
    light->on = lightShape.on;
    return light;
}

bool LightBuilder::directionOf(const LightShape& shape, SbVec3f& out) {
    SbVec3f direction = shape.target - shape.position;
    // Points so far apart that the float difference overflows still give
    // their direction, worked out in double precision.
    if (!(std::isfinite(direction[0]) && std::isfinite(direction[1]) && std::isfinite(direction[2]))) {
        double wide[3];
        const double length = wideDifference(shape.target.getValue(), shape.position.getValue(), wide);
        if (!(length > 0.0 && std::isfinite(length))) return false;
        direction.setValue(float(wide[0] / length), float(wide[1] / length), float(wide[2] / length));
    }
    if (!(direction.length() > 0.0f)) return false;
    out = direction;
    return true;
}

SoEnvironment* LightBuilder::buildEnvironment(const SbVec3f& ambient) {
    SoEnvironment* environment = new SoEnvironment;
    environment->ambientColor = colourOf(ambient);
    environment->ambientIntensity = 1.0f;
    return environment;
}

}  // namespace kestrav
