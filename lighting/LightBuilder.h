#pragma once

#include <Inventor/SbVec3f.h>

#include <string>

class SoEnvironment;
class SoLight;

namespace kestrav {

// A 3DS light as it stands at the placement frame, in world coordinates.
struct LightShape {
    SbVec3f position{0.0f, 0.0f, 0.0f};
    SbVec3f colour{1.0f, 1.0f, 1.0f};
    float multiplier = 1.0f;
    bool on = true;
    bool spot = false;
    SbVec3f target{0.0f, 0.0f, 0.0f};  // the rest only for a spotlight
    float hotspot = 0.0f;   // degrees, full cone
    float falloff = 0.0f;   // degrees, full cone
};

// Builds one Inventor light: a point light for an omni light, a spotlight
// whose cone is the falloff cone and whose drop-off halves the intensity
// midway between the hotspot's edge and the falloff's.
class LightBuilder {
public:
    LightBuilder(const std::string& name, const LightShape& shape);
    SoLight* buildLight() const;

    // The scene's ambient light, at full intensity in its own colour.
    static SoEnvironment* buildEnvironment(const SbVec3f& ambient);
    // A spotlight's direction, target minus position; false when the target
    // is on the light, which leaves out (and Inventor's direction) alone.
    static bool directionOf(const LightShape& shape, SbVec3f& out);

private:
    std::string objectName;
    LightShape lightShape;
};

// Inventor's drop-off rate (0 to 1) for a 3D Studio spotlight's cones.
float dropOffRateOf(float hotspot, float falloff);

}  // namespace kestrav
