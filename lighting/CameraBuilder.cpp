#include "lighting/CameraBuilder.h"

#include <Inventor/SbMatrix.h>
#include <Inventor/SbRotation.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>

#include <cfloat>
#include <cmath>

#include "geometry/VectorOps.h"
#include "lighting/InventorName.h"

namespace kestrav {

namespace {

constexpr float kPi = 3.14159265358979f;
constexpr float kRadiansPerDegree = kPi / 180.0f;
// Inventor's largest useful height angle stays short of a half turn.
constexpr float kWidestAngle = 3.1f;

// Turns the camera's own axes (looking down -Z, +Y up) onto the view.
SbRotation lookRotation(const SbVec3f& direction) {
    SbVec3f up(0.0f, 0.0f, 1.0f);
    SbVec3f right = direction.cross(up);
    // Looking straight up or down: the world's +Y stands in for up.
    if (right.length() < 1e-6f) right = direction.cross(SbVec3f(0.0f, 1.0f, 0.0f));
    right.normalize();
    const SbVec3f cameraUp = right.cross(direction);
    const SbVec3f back = -direction;
    SbMatrix axes(right[0], right[1], right[2], 0.0f, cameraUp[0], cameraUp[1], cameraUp[2], 0.0f, back[0],
                  back[1], back[2], 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
    return SbRotation(axes);
}

}  // namespace

float fieldOfViewOfLens(float lens) {
    if (!(lens > 0.0f)) return 45.0f;
    return 2.0f * std::atan(18.0f / lens) / kRadiansPerDegree;
}

CameraBuilder::CameraBuilder(const std::string& name, const CameraView& view) : objectName(name), cameraView(view) {}

SoPerspectiveCamera* CameraBuilder::buildCamera() const {
    SoPerspectiveCamera* camera = new SoPerspectiveCamera;
    nameAfterObject(camera, objectName);
    camera->position = cameraView.position;

    camera->orientation = orientationOf(cameraView);
    camera->heightAngle = heightAngleOf(cameraView);
    float distance = (cameraView.target - cameraView.position).length();
    // Past about 1e19 the float length overflows; a distance no float holds
    // keeps Inventor's value, as a target on the camera does.
    if (!std::isfinite(distance)) {
        double difference[3];
        const double wide = wideDifference(cameraView.target.getValue(), cameraView.position.getValue(), difference);
        distance = wide <= double(FLT_MAX) ? float(wide) : 0.0f;
    }
    if (distance > 0.0f) camera->focalDistance = distance;
    // A near range of 0 (as many files store) cannot make a perspective
    // projection; Inventor's own values stay then.
    if (cameraView.hasRanges && cameraView.nearRange > 0.0f && cameraView.farRange > cameraView.nearRange) {
        camera->nearDistance = cameraView.nearRange;
        camera->farDistance = cameraView.farRange;
    }
    return camera;
}

SbRotation CameraBuilder::orientationOf(const CameraView& view) {
    SbVec3f direction = view.target - view.position;
    // A direction whose float length overflows would normalise to nothing.
    if (!std::isfinite(direction.length())) {
        double wide[3];
        const double length = wideDifference(view.target.getValue(), view.position.getValue(), wide);
        if (length > 0.0 && std::isfinite(length))
            direction.setValue(float(wide[0] / length), float(wide[1] / length), float(wide[2] / length));
    }
    // A target on the camera gives no direction: it looks along +Y, 3D
    // Studio's default view into the scene.
    if (!(direction.length() > 0.0f)) direction.setValue(0.0f, 1.0f, 0.0f);
    direction.normalize();
    // A positive roll turns the camera clockwise about where it looks.
    const SbRotation roll(SbVec3f(0.0f, 0.0f, 1.0f), -view.roll * kRadiansPerDegree);
    return roll * lookRotation(direction);
}

float CameraBuilder::heightAngleOf(const CameraView& view) {
    const float halfWidth = std::tan(0.5f * view.fieldOfView * kRadiansPerDegree);
    float height = 2.0f * std::atan(halfWidth / kAssumedAspect);
    if (!(height > 0.0f)) height = 45.0f * kRadiansPerDegree;
    return std::fmin(height, kWidestAngle);
}

}  // namespace kestrav
