// Converts models with cameras and lights under -l and checks the nodes Coin
// reads back: where the cameras look, where the lights shine, and that
// without -l nothing of them reaches the scene.

#include <Inventor/SbViewVolume.h>
#include <Inventor/nodes/SoEnvironment.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoPointLight.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoSpotLight.h>
#include <Inventor/nodes/SoSwitch.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "lighting/CameraBuilder.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

constexpr float kDegree = 3.14159265f / 180.0f;

Chunk3ds triangle() {
    return meshObject("Tri", {pointArray({-1, -1, 0, 1, -1, 0, 0, 1, 0}), faceArray({{0, 1, 2}})});
}

ConverterOptions withLights() {
    ConverterOptions options;
    options.lights = true;
    return options;
}

// Where a world point lands in the camera's view, 0..1 across and up.
SbVec3f onScreen(SoPerspectiveCamera* camera, const SbVec3f& point) {
    SbVec3f screen;
    camera->getViewVolume(kAssumedAspect).projectToScreen(point, screen);
    return screen;
}

}  // namespace

TEST(LightingScene, CameraLooksAtItsTargetTurnedByItsBankWithTheLensAngle) {
    const SbVec3f position(10, -20, 5), target(1, 2, 3);
    const Bytes file = model3ds({triangle(),
                                 namedObject("Cam 1", {camera({10, -20, 5}, {1, 2, 3}, 30, 35,
                                                              {Chunk3ds(CAM_RANGES).floats({2, 400})})}),
                                 namedObject("Second", {camera({0, 0, 9}, {0, 5, 0}, 0, 50)})});
    const ConvertedScene scene = convertBytes(file, withLights());
    ASSERT_NE(scene.root, nullptr);
    auto* cam = childAs<SoPerspectiveCamera>(scene.root, 0);
    ASSERT_NE(cam, nullptr) << scene.text;
    EXPECT_EQ(std::string(cam->getName().getString()), "Cam_1");
    EXPECT_EQ(cam->position.getValue(), position);
    EXPECT_NEAR(cam->focalDistance.getValue(), (target - position).length(), 1e-4);
    EXPECT_FLOAT_EQ(cam->nearDistance.getValue(), 2.0f);
    EXPECT_FLOAT_EQ(cam->farDistance.getValue(), 400.0f);

    const SbVec3f centre = onScreen(cam, target);
    EXPECT_NEAR(centre[0], 0.5f, 1e-4);
    EXPECT_NEAR(centre[1], 0.5f, 1e-4);
    // The world's up, turned by the bank: 30 degrees off the screen's vertical.
    const SbVec3f up = onScreen(cam, target + SbVec3f(0, 0, 1)) - centre;
    EXPECT_NEAR(std::fabs(std::atan2(up[0] * kAssumedAspect, up[1])), 30 * kDegree, 1e-3);
    // The lens's horizontal angle spans the screen's width.
    SbVec3f right, down;
    cam->orientation.getValue().multVec(SbVec3f(1, 0, 0), right);
    const float halfWidth = std::tan(0.5f * fieldOfViewOfLens(35.0f) * kDegree) * cam->focalDistance.getValue();
    EXPECT_NEAR(onScreen(cam, target + halfWidth * right)[0], 1.0f, 1e-3);
    EXPECT_NEAR(fieldOfViewOfLens(35.0f), 2 * std::atan(18.0f / 35.0f) / kDegree, 1e-4);

    auto* others = childAs<SoSwitch>(scene.root, 1);
    ASSERT_NE(others, nullptr);
    EXPECT_EQ(others->whichChild.getValue(), SO_SWITCH_NONE);
    ASSERT_EQ(others->getNumChildren(), 1);
    EXPECT_EQ(std::string(others->getChild(0)->getName().getString()), "Second");
    EXPECT_NE(childAs<SoSeparator>(scene.root, 2), nullptr) << "the geometry follows the cameras";
}

// Float lengths overflow past about 1e19, and float differences past 3.4e38:
// the camera and the spotlight still aim at their targets, with no infinity.
TEST(LightingScene, CameraAndSpotlightAimAtTargetsTooFarForFloatLengths) {
    const Bytes file = model3ds({triangle(), namedObject("Near", {camera({0, 0, 0}, {0, 0, 1.5e22f}, 0, 35)}),
                                 namedObject("Wide", {camera({-3e38f, 0, 0}, {3e38f, 0, 0}, 0, 35)}),
                                 namedObject("Spot", {omniLight({3e38f, 1, 0}, {spotlight({-3e38f, 1, 0}, 30, 60)})})});
    const ConvertedScene scene = convertBytes(file, withLights());
    ASSERT_NE(scene.root, nullptr);
    auto* near = childAs<SoPerspectiveCamera>(scene.root, 0);
    auto* others = childAs<SoSwitch>(scene.root, 1);
    ASSERT_TRUE(near && others && others->getNumChildren() == 1) << scene.text;
    auto* wide = static_cast<SoPerspectiveCamera*>(others->getChild(0));
    auto* spot = childAs<SoSpotLight>(scene.root, 2);
    ASSERT_NE(spot, nullptr) << scene.text;

    EXPECT_FLOAT_EQ(near->focalDistance.getValue(), 1.5e22f);
    EXPECT_EQ(wide->focalDistance.getValue(), 5.0f) << "Inventor's own: 6e38 is no float";
    SbVec3f view;
    near->orientation.getValue().multVec(SbVec3f(0, 0, -1), view);
    EXPECT_TRUE(view.equals(SbVec3f(0, 0, 1), 1e-6f)) << view[0] << ' ' << view[1] << ' ' << view[2];
    wide->orientation.getValue().multVec(SbVec3f(0, 0, -1), view);
    EXPECT_TRUE(view.equals(SbVec3f(1, 0, 0), 1e-6f)) << view[0] << ' ' << view[1] << ' ' << view[2];
    EXPECT_TRUE(spot->direction.getValue().equals(SbVec3f(-1, 0, 0), 1e-6f)) << scene.text;
}

TEST(LightingScene, LightsShineAsWrittenBeforeTheGeometry) {
    const Bytes file = model3ds(
        {Chunk3ds(AMBIENT_LIGHT).add(Chunk3ds(COLOR_F).floats({0.1f, 0.2f, 0.3f})), triangle(),
         namedObject("Omni", {omniLight({1, 2, 3}, {Chunk3ds(COLOR_24).u8(255).u8(0).u8(51),
                                                    Chunk3ds(DL_MULTIPLIER).f32(0.5f)})}),
         namedObject("Spot", {omniLight({0, 0, 10}, {spotlight({3, 4, 10}, 30, 60)})}),
         namedObject("Dark", {omniLight({5, 5, 5}, {Chunk3ds(DL_OFF), Chunk3ds(DL_MULTIPLIER).f32(3.0f)})})});
    const ConvertedScene scene = convertBytes(file, withLights());
    ASSERT_NE(scene.root, nullptr);

    auto* environment = childAs<SoEnvironment>(scene.root, 0);
    ASSERT_NE(environment, nullptr) << scene.text;
    EXPECT_TRUE(environment->ambientColor.getValue().equals(SbColor(0.1f, 0.2f, 0.3f), 1e-6f));

    auto* omni = childAs<SoPointLight>(scene.root, 1);
    ASSERT_NE(omni, nullptr);
    EXPECT_EQ(omni->location.getValue(), SbVec3f(1, 2, 3));
    EXPECT_TRUE(omni->color.getValue().equals(SbColor(1.0f, 0.0f, 0.2f), 1e-6f));
    EXPECT_FLOAT_EQ(omni->intensity.getValue(), 0.5f);
    EXPECT_TRUE(omni->on.getValue());

    auto* spot = childAs<SoSpotLight>(scene.root, 2);
    ASSERT_NE(spot, nullptr);
    SbVec3f direction = spot->direction.getValue();
    direction.normalize();
    EXPECT_TRUE(direction.equals(SbVec3f(0.6f, 0.8f, 0.0f), 1e-6f));
    EXPECT_NEAR(spot->cutOffAngle.getValue(), 30 * kDegree, 1e-6);
    // Halfway between the hotspot's edge (15 degrees) and the falloff's (30),
    // the light is at half strength.
    const float exponent = 128 * spot->dropOffRate.getValue();
    EXPECT_NEAR(std::pow(std::cos(22.5f * kDegree), exponent), 0.5f, 1e-3);

    auto* dark = childAs<SoPointLight>(scene.root, 3);
    ASSERT_NE(dark, nullptr);
    EXPECT_FALSE(dark->on.getValue());
    EXPECT_FLOAT_EQ(dark->intensity.getValue(), 1.0f) << "kept within Inventor's 0..1";
    EXPECT_NE(childAs<SoSeparator>(scene.root, 4), nullptr);
}

TEST(LightingScene, LinkedCameraAndTracksPlaceItAtTheSavedFrame) {
    // Saved at frame 10: the parent has moved by (100, 0, 0), the camera's own
    // track puts it 5 above the parent, and its field-of-view and roll tracks
    // override the lens and bank.
    const Bytes file = model3ds(
        {triangle(), namedObject("Cam", {camera({0, 0, 0}, {0, 50, 0}, 0, 35)})},
        {Chunk3ds(KFSEG).u32(0).u32(20), Chunk3ds(KFCURTIME).u32(10),
         objectNode(0, "Tri", kNoParent,
                    {splineTrack(POS_TRACK_TAG, {{0, {0, 0, 0}}, {10, {100, 0, 0}}})}),
         keyframerNode(CAMERA_NODE_TAG, 1, "Cam", 0,
                       {track(POS_TRACK_TAG, {{0, 0, 5}}), track(FOV_TRACK_TAG, {{60}}),
                        splineTrack(ROLL_TRACK_TAG, {{0, {0}}, {10, {90}}})}),
         keyframerNode(TARGET_NODE_TAG, 2, "Cam", kNoParent, {track(POS_TRACK_TAG, {{100, 50, 5}})})});
    const ConvertedScene scene = convertBytes(file, withLights());
    ASSERT_NE(scene.root, nullptr);
    auto* cam = childAs<SoPerspectiveCamera>(scene.root, 0);
    ASSERT_NE(cam, nullptr) << scene.text;
    EXPECT_TRUE(cam->position.getValue().equals(SbVec3f(100, 0, 5), 1e-4f));
    const SbVec3f centre = onScreen(cam, SbVec3f(100, 50, 5));
    EXPECT_NEAR(centre[0], 0.5f, 1e-4);
    EXPECT_NEAR(centre[1], 0.5f, 1e-4);
    EXPECT_NEAR(cam->heightAngle.getValue(), 2 * std::atan(std::tan(30 * kDegree) / kAssumedAspect), 1e-5);
    // Rolled a quarter turn clockwise, the camera sees the world's up to its left.
    const SbVec3f up = onScreen(cam, SbVec3f(100, 50, 6)) - centre;
    EXPECT_NEAR(std::atan2(up[0], up[1]), -90 * kDegree, 1e-3);
}

TEST(LightingScene, LightSpotlightTargetAndAmbientNodesOverrideTheStoredValues) {
    // Each stored value points elsewhere than its node's track: the omni light
    // moves to (4, -5, 6) and turns blue, the spotlight stands at (-2, -3, 7)
    // with its target straight up the y axis and a 40-degree falloff, and the
    // ambient colour comes from its own node.
    const Bytes file = model3ds(
        {Chunk3ds(AMBIENT_LIGHT).add(Chunk3ds(COLOR_F).floats({0.1f, 0.2f, 0.3f})), triangle(),
         namedObject("Omni", {omniLight({1, 2, 3})}),
         namedObject("Spot", {omniLight({0, 0, 10}, {spotlight({3, 4, 10}, 30, 60)})})},
        {objectNode(0, "Tri", kNoParent),
         keyframerNode(AMBIENT_NODE_TAG, 1, "$AMBIENT$", kNoParent, {track(COL_TRACK_TAG, {{0.5f, 0.25f, 0.125f}})}),
         keyframerNode(LIGHT_NODE_TAG, 2, "Omni", kNoParent,
                       {track(POS_TRACK_TAG, {{4, -5, 6}}), track(COL_TRACK_TAG, {{0.25f, 0.5f, 1}})}),
         keyframerNode(SPOTLIGHT_NODE_TAG, 3, "Spot", kNoParent,
                       {track(POS_TRACK_TAG, {{-2, -3, 7}}), track(FALL_TRACK_TAG, {{40}})}),
         keyframerNode(L_TARGET_NODE_TAG, 4, "Spot", kNoParent, {track(POS_TRACK_TAG, {{-2, 5, 7}})})});
    const ConvertedScene scene = convertBytes(file, withLights());
    ASSERT_NE(scene.root, nullptr);
    auto* environment = childAs<SoEnvironment>(scene.root, 0);
    ASSERT_NE(environment, nullptr) << scene.text;
    EXPECT_TRUE(environment->ambientColor.getValue().equals(SbColor(0.5f, 0.25f, 0.125f), 1e-6f));
    auto* omni = childAs<SoPointLight>(scene.root, 1);
    ASSERT_NE(omni, nullptr) << scene.text;
    EXPECT_TRUE(omni->location.getValue().equals(SbVec3f(4, -5, 6), 1e-5f));
    EXPECT_TRUE(omni->color.getValue().equals(SbColor(0.25f, 0.5f, 1.0f), 1e-6f));
    auto* spot = childAs<SoSpotLight>(scene.root, 2);
    ASSERT_NE(spot, nullptr) << scene.text;
    EXPECT_TRUE(spot->location.getValue().equals(SbVec3f(-2, -3, 7), 1e-5f));
    SbVec3f direction = spot->direction.getValue();
    direction.normalize();
    EXPECT_TRUE(direction.equals(SbVec3f(0, 1, 0), 1e-6f));
    EXPECT_NEAR(spot->cutOffAngle.getValue(), 20 * kDegree, 1e-6);
}

TEST(LightingScene, WithoutTheOptionCamerasLightsAndTheirDamageLeaveNoTrace) {
    const Bytes plain = model3ds({triangle()}, {objectNode(0, "Tri", kNoParent)});
    const Bytes lit = model3ds(
        {Chunk3ds(AMBIENT_LIGHT).add(Chunk3ds(COLOR_F).floats({0.1f, 0.2f, 0.3f})), triangle(),
         namedObject("Cam", {camera({0, 0, 0}, {0, 5, 0}, 0, 35)}),
         // Too short for its fields: damaged.
         namedObject("Broken", {Chunk3ds(N_CAMERA).floats({1, 2, 3})}),
         namedObject("Omni", {omniLight({1, 2, 3})})},
        {objectNode(0, "Tri", kNoParent),
         keyframerNode(CAMERA_NODE_TAG, 1, "Cam", kNoParent, {trackHeader(FOV_TRACK_TAG, 1000)})});
    const ConvertedScene before = convertBytes(plain);
    const ConvertedScene after = convertBytes(lit);
    EXPECT_EQ(after.text, before.text);
    EXPECT_TRUE(after.messages.empty()) << joinedLines(after.messages);
    // With nothing to add, -l changes nothing either.
    EXPECT_EQ(convertBytes(plain, withLights()).text, before.text);

    const ConvertedScene withThem = convertBytes(lit, withLights());
    ASSERT_EQ(withThem.messages.size(), 1u);
    EXPECT_NE(withThem.messages[0].find("damaged chunks were skipped"), std::string::npos);
    EXPECT_NE(childAs<SoPerspectiveCamera>(withThem.root, 0), nullptr) << withThem.text;
}

TEST(LightingScene, CorpusCamerasLookAtTheirTargetsAtTheSavedFrame) {
    ASSERT_TRUE(corpusIsThere());
    // The targets' positions at the saved frames, as the files store them:
    // one key, and the last of three keys before frame 75.
    const struct {
        const char* file;
        SbVec3f target;
    } models[] = {{"CameraRollAnim.3ds", SbVec3f(-37.2279052734375f, -0.2204752415418625f, 22.777624130249023f)},
                  {"TargetCameraAnim.3ds", SbVec3f(100.41004943847656f, 28.215896606445312f, 0.0f)}};
    for (const auto& m : models) {
        ConverterOptions options = withLights();
        options.outputPath = scratchDirectory() + "/" + m.file + ".iv";
        const ConvertedScene scene = convertFile(corpusPath(m.file), options);
        ASSERT_NE(scene.root, nullptr) << m.file;
        auto* cam = childAs<SoPerspectiveCamera>(scene.root, 0);
        ASSERT_NE(cam, nullptr) << m.file;
        EXPECT_EQ(std::string(cam->getName().getString()), "Camera01");
        const SbVec3f centre = onScreen(cam, m.target);
        EXPECT_NEAR(centre[0], 0.5f, 1e-3) << m.file;
        EXPECT_NEAR(centre[1], 0.5f, 1e-3) << m.file;
        EXPECT_TRUE(scene.messages.empty()) << m.file;
    }
}

TEST(LightingScene, CorpusModelsWithoutCamerasOrLightsConvertAlikeWithTheOption) {
    ASSERT_TRUE(corpusIsThere());
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpusFolder())) {
        const std::string file = entry.path().filename().string();
        const std::string extension = entry.path().extension().string();
        if (extension != ".3ds" && extension != ".3DS") continue;
        ConverterOptions plain;
        plain.outputPath = scratchDirectory() + "/plain-" + file + ".iv";
        ConverterOptions lit = withLights();
        lit.outputPath = scratchDirectory() + "/lit-" + file + ".iv";
        const ConvertedScene without = convertFile(entry.path().string(), plain);
        const ConvertedScene with = convertFile(entry.path().string(), lit);
        EXPECT_EQ(without.text.find("Camera"), std::string::npos) << file;
        if (file.find("Camera") != std::string::npos) {
            EXPECT_NE(with.text.find("DEF Camera01 PerspectiveCamera"), std::string::npos) << file;
            continue;
        }
        EXPECT_EQ(with.text, without.text) << file;
        ++compared;
    }
    EXPECT_GT(compared, 0);
}

