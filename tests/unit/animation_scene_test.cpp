// With -a the parts that move follow a SelectOne of matrices and the parts that
// hide a SelectOne of switch choices, all indexed by one TimeCounter. The tests
// read the written scene back, show chosen frames by setting the SelectOnes'
// index, and check each part's world matrix with SoGetMatrixAction.

#include <Inventor/SbLinear.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoPath.h>
#include <Inventor/actions/SoGetMatrixAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/engines/SoSelectOne.h>
#include <Inventor/engines/SoTimeCounter.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoMatrixTransform.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoPointLight.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoSpotLight.h>
#include <Inventor/nodes/SoSwitch.h>
#include <Inventor/nodes/SoTransform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "reader/ModelDatabase.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

const float kPi = 3.14159265f;

// Scenes of corpus models are written to the scratch folder, never beside them.
ConverterOptions writingTo(const std::string& name, bool animation = true) {
    ConverterOptions options;
    options.animation = animation;
    if (!name.empty()) options.outputPath = scratchDirectory() + "/" + name;
    return options;
}

ConverterOptions animated() { return writingTo("", true); }

Chunk3ds triangle(const std::string& name) {
    return meshObject(name, {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}), faceArray({{0, 1, 2}}),
                             meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0})});
}

// A turn about z by angle at frame, with tension, continuity and bias given.
SplineKey turnKey(uint32_t frame, float angle) { return {frame, {angle, 0, 0, 1}, 0x07, {0, 0, 0}}; }

Chunk3ds segment(uint32_t first, uint32_t last) { return Chunk3ds(KFSEG).u32(first).u32(last); }

Chunk3ds hideTrack(std::initializer_list<uint32_t> frames) {
    Chunk3ds chunk = trackHeader(HIDE_TRACK_TAG, uint32_t(frames.size()));
    for (uint32_t frame : frames) chunk.u32(frame).u16(0);
    return chunk;
}

// The part's place: Rot(z, -angle), then a move to (x, y, z).
SbMatrix placed(float angle, const SbVec3f& position) {
    SbMatrix turn, move;
    turn.setRotate(SbRotation(SbVec3f(0, 0, 1), -angle));
    move.setTranslate(position);
    return turn.multRight(move);
}

SoSelectOne* engineOf(SoField& field) {
    SoEngineOutput* output = nullptr;
    if (!field.getConnectedEngine(output)) return nullptr;
    SoEngine* engine = output->getContainer();
    return engine->isOfType(SoSelectOne::getClassTypeId()) ? static_cast<SoSelectOne*>(engine) : nullptr;
}

// Every SelectOne of the scene shows the counter's value index.
void showCounterValue(SoNode* root, int index) {
    for (SoMatrixTransform* node : nodesOf<SoMatrixTransform>(root))
        if (SoSelectOne* select = engineOf(node->matrix)) select->index = index;
    for (SoSwitch* node : nodesOf<SoSwitch>(root))
        if (SoSelectOne* select = engineOf(node->whichChild)) select->index = index;
}

// The world matrix of the mesh instance with the given place among the scene's
// instances, at its shape.
SbMatrix worldOf(SoSeparator* root, int instance) {
    const std::vector<SoCoordinate3*> shapes = nodesOf<SoCoordinate3>(root);
    SoSearchAction search;
    search.setNode(shapes.at(size_t(instance)));
    search.apply(root);
    SoGetMatrixAction action{SbViewportRegion()};
    action.apply(search.getPath());
    return action.getMatrix();
}

void expectMatrix(const SbMatrix& expected, const SbMatrix& actual, const char* what) {
    SCOPED_TRACE(what);
    for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) EXPECT_NEAR(expected[row][col], actual[row][col], 1e-5f) << row << ", " << col;
}

int occurrences(const std::string& text, const std::string& word) {
    int count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
    return count;
}

TEST(AnimatedScene, PartTurningWithSplineKeysFollowsItsTrackFrameByFrame) {
    const Bytes file = model3ds(
        {triangle("Wheel"), triangle("Still")},
        {segment(0, 30),
         objectNode(0, "Wheel", kNoParent,
                    {track(POS_TRACK_TAG, {{5, 0, 0}}),
                     splineTrack(ROT_TRACK_TAG, {turnKey(0, 0), turnKey(10, kPi / 6), turnKey(20, kPi / 6),
                                                 turnKey(30, kPi / 6)})}),
         objectNode(1, "Still", kNoParent, {track(POS_TRACK_TAG, {{0, 3, 0}})})});
    ConvertedScene scene = convertBytes(file, animated());
    ASSERT_NE(scene.root, nullptr) << scene.text;

    // One counter for 31 frames at 30 a second; the still part keeps its Transform nodes.
    EXPECT_EQ(occurrences(scene.text, "TimeCounter {"), 1);
    EXPECT_NE(scene.text.find("max 30\n"), std::string::npos);
    EXPECT_NE(scene.text.find("frequency 0.96774191\n"), std::string::npos);
    EXPECT_EQ(nodesOf<SoMatrixTransform>(scene.root).size(), 1u);
    EXPECT_FALSE(nodesOf<SoTransform>(scene.root).empty());

    // Keys at 0, 10, 20 and 30 turn on by equal steps, so the middle segment turns evenly.
    const struct {
        int frame;
        float angle;
    } frames[] = {{0, 0}, {10, kPi / 6}, {15, kPi / 4}, {20, kPi / 3}, {30, kPi / 2}};
    for (const auto& f : frames) {
        showCounterValue(scene.root, f.frame);
        expectMatrix(placed(f.angle, SbVec3f(5, 0, 0)), worldOf(scene.root, 0), ("frame " + std::to_string(f.frame)).c_str());
        expectMatrix(placed(0, SbVec3f(0, 3, 0)), worldOf(scene.root, 1), "the still part");
    }
}

TEST(AnimatedScene, ChildMovesWithItsParentAndWithoutASegmentTheKeysSetTheFrames) {
    const Bytes file = model3ds(
        {triangle("Arm"), triangle("Hand")},
        {objectNode(0, "Arm", kNoParent,
                    {track(POS_TRACK_TAG, {{1, 1, 0}}),
                     splineTrack(ROT_TRACK_TAG, {turnKey(0, 0), turnKey(12, kPi / 2)})}),
         objectNode(1, "Hand", 0, {track(POS_TRACK_TAG, {{2, 0, 0}})})});
    ConvertedScene scene = convertBytes(file, animated());
    ASSERT_NE(scene.root, nullptr) << scene.text;
    EXPECT_NE(scene.text.find("max 12\n"), std::string::npos);
    ASSERT_EQ(nodesOf<SoMatrixTransform>(scene.root).size(), 2u);

    showCounterValue(scene.root, 12);
    expectMatrix(placed(kPi / 2, SbVec3f(1, 1, 0)), worldOf(scene.root, 0), "the arm turned a quarter");
    // The hand, 2 along the arm, swings round to 2 along -y.
    expectMatrix(placed(kPi / 2, SbVec3f(1, -1, 0)), worldOf(scene.root, 1), "the hand");
    showCounterValue(scene.root, 0);
    expectMatrix(placed(0, SbVec3f(3, 1, 0)), worldOf(scene.root, 1), "the hand at the start");
}

TEST(AnimatedScene, HideTrackSwitchesThePartOffBetweenItsKeys) {
    // The pole's track claims more keys than it holds: passed over without a
    // warning, as a conversion without -a passes over every hide track.
    const Bytes file = model3ds({triangle("Lamp"), triangle("Base"), triangle("Pole")},
                                {segment(0, 10), objectNode(0, "Lamp", kNoParent, {hideTrack({5, 8})}),
                                 objectNode(1, "Base", kNoParent, {hideTrack({20})}),
                                 objectNode(2, "Pole", kNoParent, {trackHeader(HIDE_TRACK_TAG, 100).u32(3).u16(0)})});
    ConvertedScene scene = convertBytes(file, animated());
    ASSERT_NE(scene.root, nullptr) << scene.text;
    EXPECT_TRUE(scene.messages.empty()) << joinedLines(scene.messages);
    // The base's key lies past the segment: it never hides, and nothing of it changes.
    const std::vector<SoSwitch*> switches = nodesOf<SoSwitch>(scene.root);
    ASSERT_EQ(switches.size(), 1u);
    EXPECT_TRUE(nodesOf<SoMatrixTransform>(scene.root).empty());
    EXPECT_EQ(nodesOf<SoCoordinate3>(switches[0]).size(), 1u);
    const struct {
        int frame;
        int choice;
    } frames[] = {{0, SO_SWITCH_ALL}, {4, SO_SWITCH_ALL}, {5, SO_SWITCH_NONE}, {7, SO_SWITCH_NONE}, {8, SO_SWITCH_ALL}};
    for (const auto& f : frames) {
        showCounterValue(scene.root, f.frame);
        EXPECT_EQ(switches[0]->whichChild.getValue(), f.choice) << "frame " << f.frame;
    }
}

TEST(AnimatedScene, FileSavedInTheMiddleOfALaterSegmentCountsFromTheSegmentStart) {
    // Saved at frame 25 of 10..40: the stored vertices show the part turned a
    // quarter, which its local frame takes back out.
    const Bytes file = model3ds(
        {meshObject("Flag", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}), faceArray({{0, 1, 2}}),
                             meshMatrix({0, -1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0})})},
        {segment(10, 40), Chunk3ds(KFCURTIME).u32(25),
         objectNode(0, "Flag", kNoParent,
                    {splineTrack(ROT_TRACK_TAG, {turnKey(10, 0), turnKey(25, kPi / 2), turnKey(40, kPi / 2)})})});
    ConvertedScene scene = convertBytes(file, animated());
    ASSERT_NE(scene.root, nullptr) << scene.text;
    EXPECT_NE(scene.text.find("max 30\n"), std::string::npos);
    SbMatrix frame;
    frame.setRotate(SbRotation(SbVec3f(0, 0, 1), -kPi / 2));
    const SbMatrix local = frame.inverse();
    const struct {
        int index;
        float angle;
    } frames[] = {{0, 0}, {15, kPi / 2}, {30, kPi}};
    for (const auto& f : frames) {
        showCounterValue(scene.root, f.index);
        SbMatrix expected = local;
        expected.multRight(placed(f.angle, SbVec3f(0, 0, 0)));
        expectMatrix(expected, worldOf(scene.root, 0), ("frame " + std::to_string(10 + f.index)).c_str());
    }
}

// Saved at frame 180 of 0..300 with a rotation key on each of frames 0 to 181.
TEST(AnimatedScene, CorpusRotatingCubeCornersAtKnownFrames) {
    ASSERT_TRUE(corpusIsThere());
    const std::string path = corpusPath("RotatingCube.3DS");
    ConvertedScene scene = convertFile(path, writingTo("cube.iv"));
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(nodesOf<SoMatrixTransform>(scene.root).size(), 1u);
    const SoCoordinate3* corners = nodesOf<SoCoordinate3>(scene.root).at(0);

    ModelDatabase database;
    ASSERT_TRUE(database.readDatabase(path.c_str()));
    const float* f = database.meshList().records[0].matrix;
    const SbMatrix meshFrame(f[0], f[1], f[2], 0, f[3], f[4], f[5], 0, f[6], f[7], f[8], 0, f[9], f[10], f[11], 1);
    // Frame 0 is the first key alone, 0.1425 about x, at the node's position.
    SbMatrix firstKey, move;
    firstKey.setRotate(SbRotation(SbVec3f(1, 0, 0), -0.14248648f));
    move.setTranslate(SbVec3f(3.9886036f, -5.6980057f, 0));
    const SbMatrix atFirstKey = meshFrame.inverse().multRight(firstKey).multRight(move);

    // The saved frame shows the stored corners, and so does frame 300: the
    // last key, at 181, turns by nothing and holds.
    const struct {
        int frame;
        SbMatrix expected;
    } frames[] = {{0, atFirstKey}, {180, SbMatrix::identity()}, {300, SbMatrix::identity()}};
    for (const auto& fr : frames) {
        showCounterValue(scene.root, fr.frame);
        const SbMatrix world = worldOf(scene.root, 0);
        for (int i = 0; i < corners->point.getNum(); ++i) {
            SbVec3f seen, expected;
            world.multVecMatrix(corners->point[i], seen);
            fr.expected.multVecMatrix(corners->point[i], expected);
            EXPECT_LT((seen - expected).length(), 1e-3f) << "frame " << fr.frame << ", corner " << i;
        }
    }
}

// Without -a every corpus scene is what it was; with -a only the models whose
// parts move over their segment change.
TEST(AnimatedScene, CorpusModelsThatDoNotMoveGiveTheSameSceneWithAnimation) {
    ASSERT_TRUE(corpusIsThere());
    int models = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpusFolder())) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".3ds" && entry.path().extension() != ".3DS") continue;
        const bool moves = name == "RotatingCube.3DS" || name == "CameraRollAnimWithChildObject.3ds";
        ConvertedScene still = convertFile(entry.path().string(), writingTo("still.iv", false));
        ConvertedScene kept = convertFile(entry.path().string(), writingTo("kept.iv"));
        EXPECT_EQ(still.messages, kept.messages) << name;
        EXPECT_EQ(occurrences(still.text, "TimeCounter"), 0) << name;
        if (moves)
            EXPECT_EQ(occurrences(kept.text, "TimeCounter {"), 1) << name;
        else
            EXPECT_EQ(still.text, kept.text) << name;
        ++models;
    }
    EXPECT_GE(models, 9);
}

}  // namespace

TEST(AnimatedScene, CameraMovesAndRollsOnTheCounterWithTheLights) {
    // The camera slides from the origin to (10, 0, 0) and rolls a quarter turn
    // while its target stays at (0, 50, 0); its field of view holds.
    const Bytes file = model3ds(
        {triangle("Tri"), namedObject("Cam", {camera({0, 0, 0}, {0, 50, 0}, 0, 35)})},
        {segment(0, 10), objectNode(0, "Tri", kNoParent),
         keyframerNode(CAMERA_NODE_TAG, 1, "Cam", kNoParent,
                       {splineTrack(POS_TRACK_TAG, {{0, {0, 0, 0}}, {10, {10, 0, 0}}}),
                        splineTrack(ROLL_TRACK_TAG, {{0, {0}}, {10, {90}}})}),
         keyframerNode(TARGET_NODE_TAG, 2, "Cam", kNoParent, {track(POS_TRACK_TAG, {{0, 50, 0}})})});
    ConverterOptions options = animated();
    options.lights = true;
    const ConvertedScene scene = convertBytes(file, options);
    ASSERT_NE(scene.root, nullptr) << scene.text;
    const std::vector<SoPerspectiveCamera*> cameras = nodesOf<SoPerspectiveCamera>(scene.root);
    ASSERT_EQ(cameras.size(), 1u) << scene.text;
    SoPerspectiveCamera* cam = cameras[0];
    SoSelectOne* position = engineOf(cam->position);
    SoSelectOne* orientation = engineOf(cam->orientation);
    ASSERT_NE(position, nullptr) << scene.text;
    ASSERT_NE(orientation, nullptr) << scene.text;
    EXPECT_EQ(engineOf(cam->heightAngle), nullptr) << "a field of view that holds keeps its plain field";
    struct Frame {
        int index;
        SbVec3f at;
        float upHeight;  // the z of the camera's up: 1 before the roll, 0 after it
    };
    for (const Frame& f : {Frame{0, SbVec3f(0, 0, 0), 1.0f}, Frame{10, SbVec3f(10, 0, 0), 0.0f}}) {
        SCOPED_TRACE(f.index);
        position->index = f.index;
        orientation->index = f.index;
        EXPECT_TRUE(cam->position.getValue().equals(f.at, 1e-4f)) << cam->position.getValue()[0];
        SbVec3f look, up;
        cam->orientation.getValue().multVec(SbVec3f(0, 0, -1), look);
        cam->orientation.getValue().multVec(SbVec3f(0, 1, 0), up);
        SbVec3f toTarget = SbVec3f(0, 50, 0) - f.at;
        toTarget.normalize();
        EXPECT_TRUE(look.equals(toTarget, 1e-4f));
        EXPECT_NEAR(up[2], f.upHeight, 1e-4f);
    }
}

TEST(AnimatedScene, CorpusCameraRollLeansItsUpTowardsItsRightWhenPositive) {
    ASSERT_TRUE(corpusIsThere());
    // CameraRollAnim's camera looks level along about +x; its roll runs from 0
    // at frame 0 to -77.3 degrees at frame 120. A positive roll turns the camera
    // clockwise about where it looks, so its up vector leans to its right.
    ConverterOptions options = writingTo("roll.iv");
    options.lights = true;
    const ConvertedScene scene = convertFile(corpusPath("CameraRollAnim.3ds"), options);
    const std::vector<SoPerspectiveCamera*> cameras = nodesOf<SoPerspectiveCamera>(scene.root);
    ASSERT_EQ(cameras.size(), 1u) << scene.text;
    SoSelectOne* orientation = engineOf(cameras[0]->orientation);
    ASSERT_NE(orientation, nullptr) << scene.text;
    orientation->index = 120;
    SbVec3f look, up;
    cameras[0]->orientation.getValue().multVec(SbVec3f(0, 0, -1), look);
    cameras[0]->orientation.getValue().multVec(SbVec3f(0, 1, 0), up);
    SbVec3f right = look.cross(SbVec3f(0, 0, 1));
    right.normalize();
    const float roll = -77.3054428f * kPi / 180;
    EXPECT_NEAR(up.dot(right), std::sin(roll), 1e-3f);
    EXPECT_NEAR(up[2], std::cos(roll), 1e-3f);
}

TEST(AnimatedScene, LightAndSpotlightTargetMoveOnTheCounter) {
    // The omni light goes from (4, -5, 6) to (-4, 5, 6); the spotlight at the
    // origin first shines along +x, then, its target moved, along -y.
    const Bytes file = model3ds(
        {triangle("Tri"), namedObject("Omni", {omniLight({1, 2, 3})}),
         namedObject("Spot", {omniLight({0, 0, 10}, {spotlight({3, 4, 10}, 30, 60)})})},
        {segment(0, 10), objectNode(0, "Tri", kNoParent),
         keyframerNode(LIGHT_NODE_TAG, 1, "Omni", kNoParent,
                       {splineTrack(POS_TRACK_TAG, {{0, {4, -5, 6}}, {10, {-4, 5, 6}}})}),
         keyframerNode(SPOTLIGHT_NODE_TAG, 2, "Spot", kNoParent, {track(POS_TRACK_TAG, {{0, 0, 0}})}),
         keyframerNode(L_TARGET_NODE_TAG, 3, "Spot", kNoParent,
                       {splineTrack(POS_TRACK_TAG, {{0, {10, 0, 0}}, {10, {0, -10, 0}}})})});
    ConverterOptions options = animated();
    options.lights = true;
    const ConvertedScene scene = convertBytes(file, options);
    ASSERT_NE(scene.root, nullptr) << scene.text;
    const std::vector<SoPointLight*> omnis = nodesOf<SoPointLight>(scene.root);
    const std::vector<SoSpotLight*> spots = nodesOf<SoSpotLight>(scene.root);
    ASSERT_EQ(omnis.size(), 1u) << scene.text;
    ASSERT_EQ(spots.size(), 1u) << scene.text;
    SoSelectOne* location = engineOf(omnis[0]->location);
    SoSelectOne* direction = engineOf(spots[0]->direction);
    ASSERT_NE(location, nullptr) << scene.text;
    ASSERT_NE(direction, nullptr) << scene.text;
    EXPECT_EQ(engineOf(spots[0]->location), nullptr) << "a spotlight that holds still keeps its plain field";
    struct Frame {
        int index;
        SbVec3f omni, shining;
    };
    for (const Frame& f : {Frame{0, SbVec3f(4, -5, 6), SbVec3f(1, 0, 0)}, Frame{10, SbVec3f(-4, 5, 6), SbVec3f(0, -1, 0)}}) {
        SCOPED_TRACE(f.index);
        location->index = f.index;
        direction->index = f.index;
        EXPECT_TRUE(omnis[0]->location.getValue().equals(f.omni, 1e-4f));
        SbVec3f shining = spots[0]->direction.getValue();
        shining.normalize();
        EXPECT_TRUE(shining.equals(f.shining, 1e-5f));
    }
}
