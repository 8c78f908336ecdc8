// The viewer's keys pause, step and rewind an -a scene through its counter.
// The tests read the written scene back, drive Coin's clock by hand and check
// which of its frames the moving part shows.

#include <Inventor/SoDB.h>
#include <Inventor/engines/SoSelectOne.h>
#include <Inventor/fields/SoMFMatrix.h>
#include <Inventor/fields/SoSFTime.h>
#include <Inventor/nodes/SoMatrixTransform.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/sensors/SoSensorManager.h>
#include <gtest/gtest.h>

#include "cli/AnimationPlayer.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

const int kLastFrame = 10;

// A triangle that slides 10 units along x over frames 0 to 10.
Bytes slidingTriangle(bool animated) {
    const Chunk3ds mesh = meshObject("Slider", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}), faceArray({{0, 1, 2}}),
                                                meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0})});
    const Chunk3ds node =
        objectNode(0, "Slider", kNoParent, {splineTrack(POS_TRACK_TAG, {{0, {0, 0, 0}}, {kLastFrame, {10, 0, 0}}})});
    return animated ? model3ds({mesh}, {Chunk3ds(KFSEG).u32(0).u32(kLastFrame), node}) : model3ds({mesh});
}

ConverterOptions animation() {
    ConverterOptions options;
    options.animation = true;
    return options;
}

// The part's matrix is the one the scene keeps for the frame.
void expectShows(SoSeparator* root, int frame) {
    SoMatrixTransform* part = nodesOf<SoMatrixTransform>(root).at(0);
    SoEngineOutput* output = nullptr;
    ASSERT_TRUE(part->matrix.getConnectedEngine(output));
    const SoMFMatrix* frames = static_cast<const SoMFMatrix*>(static_cast<SoSelectOne*>(output->getContainer())->input);
    EXPECT_EQ(part->matrix.getValue(), (*frames)[frame]) << "not frame " << frame;
}

// Coin's own sensor would set the clock to the time of day whenever a slow
// run lets it fire: only the test moves it.
void advanceClock(double seconds) {
    SoDB::enableRealTimeSensor(FALSE);
    SoSFTime* clock = static_cast<SoSFTime*>(SoDB::getGlobalField("realTime"));
    clock->setValue(clock->getValue() + SbTime(seconds));
    SoDB::getSensorManager()->processTimerQueue();
    SoDB::getSensorManager()->processDelayQueue(TRUE);
}

TEST(AnimationPlayer, StepsRoundTheLoopWhilePausedAndPlaysOnFromTheFrameShown) {
    ConvertedScene scene = convertBytes(slidingTriangle(true), animation());
    ASSERT_NE(scene.root, nullptr) << scene.text;
    AnimationPlayer player(scene.root);
    ASSERT_TRUE(player.hasAnimation());
    EXPECT_EQ(player.lastFrame(), kLastFrame);

    // The counter starts when the part is first shown.
    expectShows(scene.root, 0);
    advanceClock(4.5 / 30);
    player.togglePause();
    ASSERT_TRUE(player.paused());
    EXPECT_EQ(player.frame(), 4);
    advanceClock(1.0);
    expectShows(scene.root, 4);

    player.step(1);
    EXPECT_EQ(player.frame(), 5);
    expectShows(scene.root, 5);
    player.rewind();
    player.step(-1);
    EXPECT_EQ(player.frame(), kLastFrame);
    expectShows(scene.root, kLastFrame);
    player.step(3);
    EXPECT_EQ(player.frame(), 2);
    expectShows(scene.root, 2);

    // Half a frame on the clock keeps the frame shown; three more move on.
    player.togglePause();
    EXPECT_FALSE(player.paused());
    advanceClock(0.5 / 30);
    expectShows(scene.root, 2);
    advanceClock(3.0 / 30);
    expectShows(scene.root, 5);
    player.rewind();
    advanceClock(0.5 / 30);
    expectShows(scene.root, 0);
}

TEST(AnimationPlayer, StillSceneHasNothingToPause) {
    ConvertedScene scene = convertBytes(slidingTriangle(false), animation());
    ASSERT_NE(scene.root, nullptr) << scene.text;
    AnimationPlayer player(scene.root);
    EXPECT_FALSE(player.hasAnimation());
    player.togglePause();
    EXPECT_FALSE(player.paused());
}

}  // namespace
