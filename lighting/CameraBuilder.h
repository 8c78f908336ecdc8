#pragma once

#include <Inventor/SbVec3f.h>

#include <string>

class SbRotation;
class SoPerspectiveCamera;

namespace kestrav {

// A 3DS camera as it stands at the placement frame, in world coordinates.
struct CameraView {
    SbVec3f position{0.0f, 0.0f, 0.0f};
    SbVec3f target{0.0f, 0.0f, 0.0f};
    float roll = 0.0f;           // degrees, about the viewing direction
    float fieldOfView = 45.0f;   // degrees, horizontal
    bool hasRanges = false;
    float nearRange = 0.0f;
    float farRange = 0.0f;
};

// The frame 3D Studio renders is 4:3 unless the user changed it; the vertical
// angle follows from the horizontal one for that shape.
constexpr float kAssumedAspect = 4.0f / 3.0f;

// The horizontal field of view, in degrees, of a lens (millimetres) on a
// frame 36 mm wide.
float fieldOfViewOfLens(float lens);

// Builds one Inventor camera: it looks from the position at the target with
// the world's +Z up, turned by the roll.
class CameraBuilder {
public:
    CameraBuilder(const std::string& name, const CameraView& view);
    SoPerspectiveCamera* buildCamera() const;

    // The camera's orientation and height angle (radians) for a view.
    static SbRotation orientationOf(const CameraView& view);
    static float heightAngleOf(const CameraView& view);

private:
    std::string objectName;
    CameraView cameraView;
};

}  // namespace kestrav
