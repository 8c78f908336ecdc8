// Tracks evaluated at a frame, against values worked out by hand from the
// Kochanek-Bartels formulas, and the frame a model is placed at.

#include <Inventor/SbRotation.h>
#include <Inventor/SbVec3f.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "transform/KeyframeTrack.h"

using namespace kestrav;

namespace {

const float kPi = 3.14159265f;

// A key with the file's spline values, which the reader stores as they are.
struct Key {
    uint32_t frame;
    std::vector<float> value;
    float tension = 0, continuity = 0, bias = 0, easeTo = 0, easeFrom = 0;
};

class Track {
public:
    explicit Track(const std::vector<Key>& keys) {
        for (const Key& k : keys) {
            timing.push_back(TrackKey{k.frame, 0, k.tension, k.continuity, k.bias, k.easeTo, k.easeFrom});
            values.insert(values.end(), k.value.begin(), k.value.end());
        }
    }
    SbVec3f vectorAt(uint32_t frame) const {
        float out[3] = {-99, -99, -99};
        EXPECT_TRUE(vectorTrackAt(timing.data(), values.data(), uint32_t(timing.size()), frame, out));
        return SbVec3f(out);
    }
    // Angle, then axis, as a key holds them.
    std::vector<float> rotationAt(uint32_t frame) const {
        std::vector<float> out(4, -99);
        EXPECT_TRUE(RotationTrack(timing.data(), values.data(), uint32_t(timing.size())).at(frame, out.data()));
        return out;
    }

private:
    std::vector<TrackKey> timing;
    std::vector<float> values;
};

void expectVec(const SbVec3f& got, float x, float y, float z, float tolerance = 1e-5f) {
    EXPECT_NEAR(got[0], x, tolerance);
    EXPECT_NEAR(got[1], y, tolerance);
    EXPECT_NEAR(got[2], z, tolerance);
}

// Two turns are the same when their quaternions agree up to sign.
void expectTurn(const std::vector<float>& got, float angle, const SbVec3f& axis) {
    const SbRotation a(SbVec3f(got[1], got[2], got[3]), got[0]);
    const SbRotation b(axis, angle);
    const float* p = a.getValue();
    const float* q = b.getValue();
    EXPECT_NEAR(std::fabs(p[0] * q[0] + p[1] * q[1] + p[2] * q[2] + p[3] * q[3]), 1.0f, 2e-6f)
        << "got " << got[0] << " about " << got[1] << " " << got[2] << " " << got[3];
}

KeyframeList listWith(uint32_t start, uint32_t end, uint32_t time) {
    KeyframeList list{};
    list.segmentStart = start;
    list.segmentEnd = end;
    list.currentTime = time;
    return list;
}

TEST(PlacementFrame, SavedTimeInFramesOrTicksWithinTheSegment) {
    EXPECT_EQ(placementFrame(listWith(0, 300, 150)), 150u);
    EXPECT_EQ(placementFrame(listWith(0, 100, 100)), 100u);  // the segment's ends belong to it
    EXPECT_EQ(placementFrame(listWith(10, 100, 10)), 10u);
    EXPECT_EQ(placementFrame(listWith(0, 300, 640)), 4u);     // 4 x 160 ticks
    EXPECT_EQ(placementFrame(listWith(0, 300, 28800)), 180u);
    EXPECT_EQ(placementFrame(listWith(0, 10, 480)), 3u);
    EXPECT_EQ(placementFrame(listWith(0, 100, 500)), 0u);     // outside, and not whole frames of ticks
    EXPECT_EQ(placementFrame(listWith(0, 100, 32000)), 0u);   // 200 frames: outside as well
    EXPECT_EQ(placementFrame(listWith(10, 300, 320)), 0u);    // 2 frames, before the segment
    EXPECT_EQ(placementFrame(listWith(5, 10, 0)), 0u);
    EXPECT_EQ(placementFrame(listWith(0, 0, 0)), 0u);         // no segment, no saved time
    EXPECT_EQ(placementFrame(listWith(100, 0, 50)), 0u);      // a segment that ends before it starts
}

TEST(VectorTrack, FirstKeyBeforeAndAtItsFrameAndForASingleKey) {
    const Track single({{5, {1.5f, -2, 1e-7f}}});
    for (uint32_t frame : {0u, 5u, 6u, 1000u}) expectVec(single.vectorAt(frame), 1.5f, -2, 1e-7f, 0);

    const Track late({{4, {1, 2, 3}}, {8, {5, 6, 7}}});
    expectVec(late.vectorAt(0), 1, 2, 3, 0);
    expectVec(late.vectorAt(4), 1, 2, 3, 0);

    float untouched[3] = {7, 8, 9};
    EXPECT_FALSE(vectorTrackAt(nullptr, nullptr, 0, 3, untouched));
    expectVec(SbVec3f(untouched), 7, 8, 9, 0);
}

TEST(VectorTrack, TwoPlainKeysAreAStraightLineAndTheLastKeyHolds) {
    // Both tangents are the chord, so the Hermite curve is the chord itself.
    const Track track({{0, {0, 0, 0}}, {10, {10, 20, -10}}});
    expectVec(track.vectorAt(2), 2, 4, -2);
    expectVec(track.vectorAt(5), 5, 10, -5);
    expectVec(track.vectorAt(10), 10, 20, -10, 0);
    expectVec(track.vectorAt(11), 10, 20, -10, 0);
    expectVec(track.vectorAt(4000000000u), 10, 20, -10, 0);
}

TEST(VectorTrack, FullTensionStopsAtEveryKey) {
    // Tension 1 makes both tangents zero: x = 8 (3s^2 - 2s^3).
    Key a{0, {0, 0, 0}}, b{4, {8, 0, 0}};
    a.tension = b.tension = 1;
    const Track track({a, b});
    expectVec(track.vectorAt(1), 1.25f, 0, 0);  // s = 1/4: 8 (3/16 - 2/64)
    expectVec(track.vectorAt(2), 4, 0, 0);
    expectVec(track.vectorAt(3), 6.75f, 0, 0);  // s = 3/4: 8 (27/16 - 54/64)
}

TEST(VectorTrack, EaseFromAndEaseToBendTimeAlongTheSegment) {
    // A straight line from 0 to 10 over frames 0 to 10, so x shows the eased time.
    auto easedAt = [](float easeFrom, float easeTo, uint32_t frame) {
        Key a{0, {0, 0, 0}}, b{10, {10, 0, 0}};
        a.easeFrom = easeFrom;
        b.easeTo = easeTo;
        return Track({a, b}).vectorAt(frame)[0];
    };
    // Ease from 1: s = u^2.
    EXPECT_NEAR(easedAt(1, 0, 2), 0.4f, 1e-5f);
    EXPECT_NEAR(easedAt(1, 0, 5), 2.5f, 1e-5f);
    // Ease to 1: s = 1 - (1 - u)^2.
    EXPECT_NEAR(easedAt(0, 1, 5), 7.5f, 1e-5f);
    // Half and half: s = 2u^2 up to the middle, 1 - 2(1 - u)^2 after it.
    EXPECT_NEAR(easedAt(0.5f, 0.5f, 2), 0.8f, 1e-5f);
    EXPECT_NEAR(easedAt(0.5f, 0.5f, 5), 5, 1e-5f);
    EXPECT_NEAR(easedAt(0.5f, 0.5f, 8), 9.2f, 1e-5f);
    // A quarter each: k = 1 / 1.5; s = k u^2 / 0.25 while easing in, k (2u - 0.25) between.
    EXPECT_NEAR(easedAt(0.25f, 0.25f, 1), 0.266667f, 1e-5f);
    EXPECT_NEAR(easedAt(0.25f, 0.25f, 4), 3.666667f, 1e-5f);
    EXPECT_NEAR(easedAt(0.25f, 0.25f, 9), 9.733333f, 1e-5f);
    // Eases adding up to more than 1 are scaled down to add up to 1.
    EXPECT_NEAR(easedAt(1, 1, 2), 0.8f, 1e-5f);
    // Eases outside 0 to 1 are clamped.
    EXPECT_NEAR(easedAt(-1, 0, 5), 5, 1e-5f);
    EXPECT_NEAR(easedAt(3, 0, 5), 2.5f, 1e-5f);
}

TEST(VectorTrack, ThreeKeysWithTensionContinuityBiasAndUnevenSpacing) {
    // Keys x = 0, 10, 40 at frames 0, 10, 30; the middle key has tension 0.5,
    // continuity 0.5, bias -0.5. With g1 = 10, g2 = 30:
    //   arriving  0.5 (0.5 x 0.5 / 2 x 10 + 1.5 x 1.5 / 2 x 30) = 17.5, times 2 x 10 / 30: 11.667
    //   leaving   0.5 (1.5 x 0.5 / 2 x 10 + 0.5 x 1.5 / 2 x 30) = 7.5, times 2 x 20 / 30: 10
    //   first key leaving 1.5 x 10 - 0.5 x 11.667 = 9.1667; last key arriving 1.5 x 30 - 0.5 x 10 = 40
    Key middle{10, {10, 0, 0}};
    middle.tension = 0.5f;
    middle.continuity = 0.5f;
    middle.bias = -0.5f;
    const Track track({{0, {0, 0, 0}}, middle, {30, {40, 0, 0}}});
    // s = 1/2: 9.1667 / 8 + 10 / 2 - 11.667 / 8
    EXPECT_NEAR(track.vectorAt(5)[0], 4.6875f, 1e-5f);
    // s = 1/4: 10 x 0.84375 + 10 x 0.140625 + 40 x 0.15625 - 40 x 0.046875
    EXPECT_NEAR(track.vectorAt(15)[0], 14.21875f, 1e-5f);
    // s = 1/2: 10 / 2 + 10 / 8 + 40 / 2 - 40 / 8
    EXPECT_NEAR(track.vectorAt(20)[0], 21.25f, 1e-5f);
    EXPECT_EQ(track.vectorAt(10)[0], 10.0f);
}

TEST(SplineTrack, ContinuityMinusOneMakesACornerWithoutOvershoot) {
    // Out and back through a middle key of continuity -1: each segment runs
    // straight, so 8/10 of the way out is 8/10 of the middle value. Swapped
    // continuity factors overshoot to 10.88 and 97.9 degrees.
    Key out{10, {10, 0, 0}};
    out.continuity = -1;
    const Track positions({{0, {0, 0, 0}}, out, {20, {0, 0, 0}}});
    expectVec(positions.vectorAt(8), 8, 0, 0);
    expectVec(positions.vectorAt(12), 8, 0, 0);

    Key turn{10, {kPi / 2, 0, 0, 1}};
    turn.continuity = -1;
    const Track turns({{0, {0, 0, 0, 1}}, turn, {20, {-kPi / 2, 0, 0, 1}}});
    expectTurn(turns.rotationAt(8), 0.8f * kPi / 2, SbVec3f(0, 0, 1));
    expectTurn(turns.rotationAt(12), 0.8f * kPi / 2, SbVec3f(0, 0, 1));
}

TEST(VectorTrack, KeysThatAreNotNumbersOrRunPastFloatsGiveTheFirstKey) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Track broken({{0, {1, 2, 3}}, {10, {nan, 0, 0}}});
    expectVec(broken.vectorAt(5), 1, 2, 3, 0);
    // Tension -20 makes tangents 21 times the chord: the curve passes 3.4e38.
    Key a{0, {0, 0, 0}}, b{10, {3e38f, 0, 0}};
    a.tension = b.tension = -20;
    const Track wild({a, b});
    expectVec(wild.vectorAt(3), 0, 0, 0, 0);
    EXPECT_EQ(wild.vectorAt(10)[0], 3e38f);
}

TEST(RotationTrack, FirstKeyComesBackAsTheFileHoldsIt) {
    const Track single({{0, {0.7f, 0, 3, 4}}});
    for (uint32_t frame : {0u, 9u}) {
        const std::vector<float> got = single.rotationAt(frame);
        EXPECT_EQ(got, std::vector<float>({0.7f, 0, 3, 4}));
    }
    const Track two({{2, {0.5f, 0, 0, 2}}, {8, {1, 0, 0, 1}}});
    EXPECT_EQ(two.rotationAt(1), std::vector<float>({0.5f, 0, 0, 2}));
    EXPECT_EQ(two.rotationAt(2), std::vector<float>({0.5f, 0, 0, 2}));
}

TEST(RotationTrack, KeysTurnOnFromTheOneBeforeAndTheLastTotalHolds) {
    // 0.4 about z, then 0.6 more: a plain two-key track turns at an even rate.
    const Track track({{0, {0.4f, 0, 0, 1}}, {10, {0.6f, 0, 0, 1}}});
    expectTurn(track.rotationAt(5), 0.7f, SbVec3f(0, 0, 1));
    expectTurn(track.rotationAt(10), 1.0f, SbVec3f(0, 0, 1));
    expectTurn(track.rotationAt(50), 1.0f, SbVec3f(0, 0, 1));

    // A quarter turn about z, then one about x after it: the quaternions
    // (c, 0, 0, c) (c, c, 0, 0) with c^2 = 1/2 give (1, 1, 1, 1) / 2, a third
    // of a turn about the diagonal. The other order would give (1, -1, 1) / 3^0.5.
    const Track crossed({{0, {kPi / 2, 0, 0, 1}}, {1, {kPi / 2, 1, 0, 0}}});
    expectTurn(crossed.rotationAt(1), 2 * kPi / 3, SbVec3f(1, 1, 1));
    expectTurn(crossed.rotationAt(7), 2 * kPi / 3, SbVec3f(1, 1, 1));
}

TEST(RotationTrack, EaseAndSplineValuesShapeTheTurnAsTheyShapePositions) {
    // Turns about one axis commute, so squad reduces to the Hermite curve of
    // half the angle: with ease from 1, s = u^2.
    Key a{0, {0.4f, 0, 1, 0}}, b{10, {0.6f, 0, 1, 0}};
    a.easeFrom = 1;
    expectTurn(Track({a, b}).rotationAt(5), 0.4f + 0.6f * 0.25f, SbVec3f(0, 1, 0));

    // Three keys, totals 0.2, 0.7 and 1.6 about one axis at frames 0, 2, 6;
    // the middle key has tension -0.3, continuity 0.2, bias -0.4 and ease from
    // 0.3, the last ease to 0.6. In half angles (g1 = 0.25, g2 = 0.45):
    //   leaving the middle  (1.3 x 1.2 x 0.6 / 2 x 0.25 + 1.3 x 0.8 x 1.4 / 2 x 0.45) x 4/3 = 0.5928
    //   arriving at the last 1.5 x 0.45 - 0.5 x 0.5928 = 0.3786
    //   frame 3: u = 1/4, k = 1 / 1.1, s = k u^2 / 0.3 = 0.18939394
    //   half angle 0.35 h00 + 0.5928 h10 + 0.8 h01 + 0.3786 h11 = 0.45507445
    const SbVec3f axis(0, 0.6f, 0.8f);
    Key first{0, {0.2f, 0, 0.6f, 0.8f}}, middle{2, {0.5f, 0, 0.6f, 0.8f}}, last{6, {0.9f, 0, 0.6f, 0.8f}};
    middle.tension = -0.3f;
    middle.continuity = 0.2f;
    middle.bias = -0.4f;
    middle.easeFrom = 0.3f;
    last.easeTo = 0.6f;
    expectTurn(Track({first, middle, last}).rotationAt(3), 0.9101489f, axis);
}

TEST(RotationTrack, KeyOfMoreThanHalfATurnTurnsTheLongWayAboutItsAxis) {
    // 270 degrees about z from no turn: half way is 135 degrees, where the
    // shorter way would be at -45.
    const Track spin({{0, {0, 0, 0, 0}}, {10, {1.5f * kPi, 0, 0, 1}}});
    expectTurn(spin.rotationAt(2), 0.3f * kPi, SbVec3f(0, 0, 1));
    expectTurn(spin.rotationAt(5), 0.75f * kPi, SbVec3f(0, 0, 1));
    expectTurn(spin.rotationAt(10), 1.5f * kPi, SbVec3f(0, 0, 1));

    // After it, a key of 30 degrees: totals 0, 270 and 300 degrees. Half
    // angles change by 135 and 15 degrees; the spin's key leaves with
    // (135 + 15) / 2 = 75, the last key arrives with 1.5 x 15 - 0.5 x 75 = -15.
    // At s = 1/2: 135 / 2 + 75 / 8 + 150 / 2 + 15 / 8 = 153.75, so 307.5 degrees.
    const float degree = kPi / 180;
    const Track after({{0, {0, 0, 0, 0}}, {10, {270 * degree, 0, 0, 1}}, {20, {30 * degree, 0, 0, 1}}});
    expectTurn(after.rotationAt(15), 307.5f * degree, SbVec3f(0, 0, 1));
}

TEST(RotationTrack, KeysThatAreNotNumbersGiveTheFirstKey) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Track broken({{0, {0.5f, 1, 0, 0}}, {10, {nan, 0, 0, 1}}});
    EXPECT_EQ(broken.rotationAt(5), std::vector<float>({0.5f, 1, 0, 0}));
    EXPECT_EQ(broken.rotationAt(20), std::vector<float>({0.5f, 1, 0, 0}));
    // A broken key costs only the frames whose curve reaches it.
    const Track lateBreak({{0, {0.2f, 0, 0, 1}}, {10, {0.2f, 0, 0, 1}}, {20, {0.2f, 0, 0, 1}}, {30, {nan, 0, 0, 1}}});
    expectTurn(lateBreak.rotationAt(5), 0.3f, SbVec3f(0, 0, 1));
    EXPECT_EQ(lateBreak.rotationAt(25), std::vector<float>({0.2f, 0, 0, 1}));
    // A zero axis turns by nothing.
    const Track still({{0, {0.5f, 1, 0, 0}}, {10, {2, 0, 0, 0}}});
    expectTurn(still.rotationAt(20), 0.5f, SbVec3f(1, 0, 0));
}

}  // namespace
