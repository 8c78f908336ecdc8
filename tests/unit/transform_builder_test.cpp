#include <Inventor/SbLinear.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoPath.h>
#include <Inventor/actions/SoGetMatrixAction.h>
#include <Inventor/nodes/SoMatrixTransform.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTransform.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "reader/ModelDatabase.h"
#include "tests/support/BuilderFixture.h"
#include "tests/support/SceneFixture.h"
#include "transform/TransformBuilder.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

const float kHalfPi = 1.5707963f;

// A mesh whose local frame is the given axes and origin; the transform builder
// reads nothing else of it.
MeshRecord meshWithFrame(const SbVec3f& x, const SbVec3f& y, const SbVec3f& z, const SbVec3f& origin) {
    MeshRecord mesh{};
    const SbVec3f rows[4] = {x, y, z, origin};
    for (int row = 0; row < 4; ++row)
        for (int i = 0; i < 3; ++i) mesh.matrix[row * 3 + i] = rows[row][i];
    return mesh;
}

MeshRecord meshAt(const SbVec3f& origin) {
    return meshWithFrame(SbVec3f(1, 0, 0), SbVec3f(0, 1, 0), SbVec3f(0, 0, 1), origin);
}

// A keyframer node made by hand; the key arrays live in this object.
class HandNode {
public:
    HandNode() : node{} {}
    HandNode(const HandNode&) = delete;
    HandNode& operator=(const HandNode&) = delete;

    HandNode& pivot(float x, float y, float z) {
        node.pivot[0] = x;
        node.pivot[1] = y;
        node.pivot[2] = z;
        return *this;
    }
    HandNode& position(float x, float y, float z) { return append(positions, {x, y, z}); }
    HandNode& rotation(float angle, float x, float y, float z) { return append(rotations, {angle, x, y, z}); }
    HandNode& scale(float x, float y, float z) { return append(scales, {x, y, z}); }

    KeyframeNode node;

private:
    // Keys at frames 0, 1, 2 and so on, with the spline values a key without
    // spline flags is read with.
    HandNode& append(std::vector<float>& values, std::initializer_list<float> key) {
        values.insert(values.end(), key);
        timing.resize(std::max({positions.size() / 3, rotations.size() / 4, scales.size() / 3}));
        for (size_t k = 0; k < timing.size(); ++k) timing[k] = TrackKey{uint32_t(k), 0, 0, 0, 0, 0, 0};
        node.positionKeyCount = uint32_t(positions.size() / 3);
        node.positionValues = positions.empty() ? nullptr : positions.data();
        node.positionKeys = positions.empty() ? nullptr : timing.data();
        node.rotationKeyCount = uint32_t(rotations.size() / 4);
        node.rotationValues = rotations.empty() ? nullptr : rotations.data();
        node.rotationKeys = rotations.empty() ? nullptr : timing.data();
        node.scaleKeyCount = uint32_t(scales.size() / 3);
        node.scaleValues = scales.empty() ? nullptr : scales.data();
        node.scaleKeys = scales.empty() ? nullptr : timing.data();
        return *this;
    }
    std::vector<float> positions, rotations, scales;
    std::vector<TrackKey> timing;
};

// Builds the fixture's placement at frame 0, the node's chain through the
// links of the fixture's model when the node is one of its nodes, else the
// node alone.
int buildWith(BuilderFixture& fixture, int mirrored = 0) {
    NodeChain chain;
    ModelLinks links;
    std::unique_ptr<LinkedNode> alone;
    if (fixture.node) {
        const KeyframeList& nodes = fixture.database.keyframeList();
        const std::less<const KeyframeNode*> before;
        if (before(fixture.node, nodes.nodes) || !before(fixture.node, nodes.nodes + nodes.count)) {
            alone.reset(new LinkedNode(*fixture.node));
            chain = {alone.get()};
        } else {
            links = ModelLinks(fixture.database.meshList(), nodes);
            chain = links.chainOf(*fixture.node);
        }
    }
    TransformBuilder(*fixture.mesh, chain).buildTransforms(0, fixture.objects(), mirrored);
    return mirrored;
}

SoTransform* transformAt(BuilderFixture& fixture, int i) { return childAs<SoTransform>(fixture.objects(), i); }

// Where the transforms under the object separator take a point.
SbVec3f place(BuilderFixture& fixture, const SbVec3f& point) {
    SoPath* path = new SoPath(fixture.objects());
    path->ref();
    path->append(fixture.objects()->getNumChildren() - 1);
    SoGetMatrixAction action(SbViewportRegion(100, 100));
    action.apply(path);
    path->unref();
    SbVec3f placed;
    action.getMatrix().multVecMatrix(point, placed);
    return placed;
}

void expectVec(const SbVec3f& got, float x, float y, float z, float tolerance = 1e-5f) {
    EXPECT_NEAR(got[0], x, tolerance);
    EXPECT_NEAR(got[1], y, tolerance);
    EXPECT_NEAR(got[2], z, tolerance);
}

// Two rotations are the same turn when their quaternions agree up to sign.
void expectSameRotation(const SbRotation& got, const SbRotation& want) {
    const float* a = got.getValue();
    const float* b = want.getValue();
    const float dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
    EXPECT_NEAR(std::fabs(dot), 1.0f, 1e-6f);
}

bool finite(const SbVec3f& v) { return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]); }

TEST(TransformBuilder, InstanceWithoutNodeGetsNoTransformsAndKeepsTheFlag) {
    BuilderFixture fixture;
    MeshRecord mesh = meshWithFrame(SbVec3f(-1, 0, 0), SbVec3f(0, 1, 0), SbVec3f(0, 0, 1), SbVec3f(1, 2, 3));
    fixture.setMesh(&mesh);
    fixture.setNode(nullptr);
    EXPECT_EQ(buildWith(fixture), 0);
    EXPECT_EQ(buildWith(fixture, 1), 1);
    EXPECT_EQ(fixture.objects()->getNumChildren(), 0);
}

TEST(TransformBuilder, RootWithoutTracksGetsPlacementTurnScaleAndFrame) {
    BuilderFixture fixture;
    MeshRecord mesh = meshAt(SbVec3f(1, 2, 3));
    HandNode node;
    node.pivot(0.5f, -1, 2);
    fixture.setMesh(&mesh);
    fixture.setNode(&node.node);
    EXPECT_EQ(buildWith(fixture), 0);

    ASSERT_EQ(fixture.objects()->getNumChildren(), 4);
    SoTransform* placement = transformAt(fixture, 0);
    SoTransform* turn = transformAt(fixture, 1);
    SoTransform* scale = transformAt(fixture, 2);
    SoTransform* frame = transformAt(fixture, 3);
    ASSERT_TRUE(placement && turn && scale && frame);
    for (SoTransform* t : {placement, turn, scale, frame}) expectVec(t->center.getValue(), 1, 2, 3, 0);

    expectVec(placement->translation.getValue(), -1, -2, -3, 0);
    EXPECT_TRUE(placement->rotation.isDefault());
    EXPECT_TRUE(placement->scaleFactor.isDefault());
    EXPECT_TRUE(placement->scaleOrientation.isDefault());

    // Axis (1, 0, 0) is nonzero, so the node is made even for angle 0.
    EXPECT_FALSE(turn->rotation.isDefault());
    expectSameRotation(turn->rotation.getValue(), SbRotation::identity());
    EXPECT_TRUE(turn->translation.isDefault());
    EXPECT_TRUE(turn->scaleFactor.isDefault());

    EXPECT_FALSE(scale->scaleFactor.isDefault());
    expectVec(scale->scaleFactor.getValue(), 1, 1, 1, 0);
    EXPECT_TRUE(scale->translation.isDefault());
    EXPECT_TRUE(scale->rotation.isDefault());

    expectVec(frame->translation.getValue(), -0.5f, 1, -2, 0);
    expectVec(frame->scaleFactor.getValue(), 1, 1, 1);
    expectSameRotation(frame->rotation.getValue(), SbRotation::identity());

    expectVec(place(fixture, SbVec3f(7, 8, 9)), 7 - 0.5f - 1, 8 + 1 - 2, 9 - 2 - 3);
}

TEST(TransformBuilder, RootTracksPlaceTurnAndScaleTheStoredVertices) {
    BuilderFixture fixture;
    MeshRecord mesh = meshAt(SbVec3f(0, 0, 0));
    HandNode node;
    node.position(5, 0, 0).rotation(kHalfPi, 0, 0, 1).scale(2, 3, 4);
    fixture.setMesh(&mesh);
    fixture.setNode(&node.node);
    buildWith(fixture);

    ASSERT_EQ(fixture.objects()->getNumChildren(), 4);
    expectVec(transformAt(fixture, 0)->translation.getValue(), 5, 0, 0, 0);
    expectSameRotation(transformAt(fixture, 1)->rotation.getValue(), SbRotation(SbVec3f(0, 0, 1), -kHalfPi));
    expectVec(transformAt(fixture, 2)->scaleFactor.getValue(), 2, 3, 4, 0);
    // Scaled to (2, 0, 0), turned by -90 degrees about z to (0, -2, 0), moved by 5 along x.
    expectVec(place(fixture, SbVec3f(1, 0, 0)), 5, -2, 0);
}

TEST(TransformBuilder, ZeroRotationAxisGetsNoRotationNode) {
    BuilderFixture fixture;
    MeshRecord mesh = meshAt(SbVec3f(0, 0, 0));
    HandNode node;
    node.rotation(1.0f, 0, 0, 0);
    fixture.setMesh(&mesh);
    fixture.setNode(&node.node);
    buildWith(fixture);

    // Placement, scale and frame only.
    ASSERT_EQ(fixture.objects()->getNumChildren(), 3);
    EXPECT_TRUE(transformAt(fixture, 0)->rotation.isDefault());
    EXPECT_TRUE(transformAt(fixture, 1)->rotation.isDefault());
    EXPECT_FALSE(transformAt(fixture, 1)->scaleFactor.isDefault());
}

TEST(TransformBuilder, OnlyTheFirstOfTenPositionKeysCounts) {
    BuilderFixture fixture;
    MeshRecord mesh = meshAt(SbVec3f(1, 1, 1));
    HandNode node;
    for (int key = 0; key < 10; ++key) node.position(float(key + 3), float(-key), 2);
    fixture.setMesh(&mesh);
    fixture.setNode(&node.node);
    buildWith(fixture);

    ASSERT_GE(fixture.objects()->getNumChildren(), 1);
    expectVec(transformAt(fixture, 0)->translation.getValue(), 2, -1, 1, 0);
}

TEST(TransformBuilder, MirroredFrameWithoutReflectingKeysGetsMirrorNodeAndKeepsTheOrder) {
    BuilderFixture fixture;
    MeshRecord mesh = meshWithFrame(SbVec3f(-1, 0, 0), SbVec3f(0, 1, 0), SbVec3f(0, 0, 1), SbVec3f(1, 2, 3));
    HandNode node;
    node.pivot(1, 1, 1);
    fixture.setMesh(&mesh);
    fixture.setNode(&node.node);
    // The frame's reflection and the mirror node cancel: the stored triangles
    // are not reflected, so their order stays counterclockwise.
    EXPECT_EQ(buildWith(fixture), 0);

    ASSERT_EQ(fixture.objects()->getNumChildren(), 5);
    SoTransform* mirror = transformAt(fixture, 2);
    ASSERT_TRUE(mirror);
    expectVec(mirror->scaleFactor.getValue(), -1, 1, 1, 0);
    expectVec(mirror->center.getValue(), 1, 2, 3, 0);
    EXPECT_TRUE(mirror->translation.isDefault());
    EXPECT_TRUE(mirror->rotation.isDefault());
    expectVec(transformAt(fixture, 3)->scaleFactor.getValue(), 1, 1, 1, 0);
    // p ends at F(L(p - O) - P): here p - O - F(P).
    expectVec(place(fixture, SbVec3f(4, 5, 6)), 4 - 1 + 1, 5 - 2 - 1, 6 - 3 - 1);
}

TEST(TransformBuilder, MirrorNodeFollowsTheTruncatedTripleProductAndTheOrderTheReflection) {
    struct Case {
        float xAxis;
        float scale;  // of all three axes
        int mirrorNodes;
        int clockwise;
    };
    // Triple products -0.125, -0.999, -1.5 and +1: only -1 or less gets a
    // mirror node. Without one the frame's reflection reaches the triangles.
    for (const Case& c : {Case{-1, 0.5f, 0, 1}, Case{-0.999f, 1, 0, 1}, Case{-1.5f, 1, 1, 0}, Case{1, 1, 0, 0}}) {
        SCOPED_TRACE(c.xAxis * c.scale * c.scale * c.scale);
        BuilderFixture fixture;
        MeshRecord mesh = meshWithFrame(SbVec3f(c.xAxis * c.scale, 0, 0), SbVec3f(0, c.scale, 0),
                                        SbVec3f(0, 0, c.scale), SbVec3f(0, 0, 0));
        HandNode node;
        fixture.setMesh(&mesh);
        fixture.setNode(&node.node);
        EXPECT_EQ(buildWith(fixture), c.clockwise);
        EXPECT_EQ(fixture.objects()->getNumChildren(), 4 + c.mirrorNodes);
    }
}

TEST(TransformBuilder, ReflectingScaleKeyOnMirroredFrameIsNotMirroredTwice) {
    BuilderFixture fixture;
    MeshRecord mesh = meshWithFrame(SbVec3f(-1, 0, 0), SbVec3f(0, 1, 0), SbVec3f(0, 0, 1), SbVec3f(1, 2, 3));
    HandNode node;
    node.position(1, 2, 3).scale(-1, 1, 1);
    fixture.setMesh(&mesh);
    fixture.setNode(&node.node);
    EXPECT_EQ(buildWith(fixture), 0);
    // The frame is the node's placement, so every stored vertex stays where it is.
    ASSERT_EQ(fixture.objects()->getNumChildren(), 1);
    ASSERT_TRUE(childAs<SoMatrixTransform>(fixture.objects(), 0));
    expectVec(place(fixture, SbVec3f(4, 5, 6)), 4, 5, 6);
    expectVec(place(fixture, SbVec3f(-7, 0.5f, 2)), -7, 0.5f, 2);
}

TEST(TransformBuilder, NothingIsWrittenWhenNeitherNodesNorMatrixAreFinite) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (float bad : {nan, inf, -inf}) {
        SCOPED_TRACE(bad);
        BuilderFixture fixture;
        MeshRecord mesh = meshAt(SbVec3f(1, 2, 3));
        HandNode node;
        node.position(bad, 0, 0);
        fixture.setMesh(&mesh);
        fixture.setNode(&node.node);
        EXPECT_EQ(buildWith(fixture), 0);
        // The stored vertices are already in the world.
        EXPECT_EQ(fixture.objects()->getNumChildren(), 0);
    }
}

TEST(TransformBuilder, LocalFrameUndoesTurnedAndScaledAxes) {
    BuilderFixture fixture;
    // Axes of a frame turned 90 degrees about z and scaled by 2.
    MeshRecord mesh = meshWithFrame(SbVec3f(0, 2, 0), SbVec3f(-2, 0, 0), SbVec3f(0, 0, 2), SbVec3f(0, 0, 0));
    HandNode node;
    fixture.setMesh(&mesh);
    fixture.setNode(&node.node);
    buildWith(fixture);
    expectVec(place(fixture, SbVec3f(0, 2, 0)), 1, 0, 0);
    expectVec(place(fixture, SbVec3f(-2, 0, 0)), 0, 1, 0);
}

TEST(TransformBuilder, SingularFramesKeepOnlyPivotAndOrigin) {
    const SbVec3f x(1, 0, 0), z(0, 0, 1);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const MeshRecord meshes[] = {
        meshWithFrame(x, SbVec3f(2, 0, 0), z, SbVec3f(1, 2, 3)),                  // dependent rows
        meshWithFrame(SbVec3f(0, 0, 0), SbVec3f(0, 0, 0), SbVec3f(0, 0, 0), SbVec3f(1, 2, 3)),  // no matrix chunk
        meshWithFrame(SbVec3f(1e-30f, 0, 0), SbVec3f(0, 1e-30f, 0), SbVec3f(0, 0, 1e-30f), SbVec3f(1, 2, 3)),
        meshWithFrame(SbVec3f(1e-39f, 0, 0), SbVec3f(0, 1, 0), z, SbVec3f(1, 2, 3)),  // inverse beyond float
        meshWithFrame(SbVec3f(nan, 0, 0), SbVec3f(0, 1, 0), z, SbVec3f(1, 2, 3)),
    };
    for (const MeshRecord& record : meshes) {
        SCOPED_TRACE(&record - meshes);
        BuilderFixture fixture;
        MeshRecord mesh = record;
        HandNode node;
        node.pivot(0.5f, 0.25f, 2);
        fixture.setMesh(&mesh);
        fixture.setNode(&node.node);
        buildWith(fixture);

        const int count = fixture.objects()->getNumChildren();
        ASSERT_GE(count, 4);
        SoTransform* frame = transformAt(fixture, count - 1);
        ASSERT_TRUE(frame);
        expectVec(frame->translation.getValue(), -0.5f, -0.25f, -2, 0);
        expectVec(frame->center.getValue(), 1, 2, 3, 0);
        EXPECT_TRUE(frame->rotation.isDefault());
        EXPECT_TRUE(frame->scaleFactor.isDefault());
        EXPECT_TRUE(frame->scaleOrientation.isDefault());
        EXPECT_TRUE(finite(place(fixture, SbVec3f(1, 1, 1))));
    }
}

// Parent links are followed through the database, so these cases read a small
// keyframer section from a file.
Chunk3ds position(float x, float y, float z) { return track(POS_TRACK_TAG, {{x, y, z}}); }
Chunk3ds rotation(float angle, float x, float y, float z) { return track(ROT_TRACK_TAG, {{angle, x, y, z}}); }
Chunk3ds scale(float x, float y, float z) { return track(SCL_TRACK_TAG, {{x, y, z}}); }

class ParentedNodes : public testing::Test {
protected:
    void TearDown() override { database.releaseDatabase(); }

    void read(const Bytes& file) {
        const std::string path = writeScratchFile("nodes.3ds", file);
        ASSERT_EQ(database.readDatabase(path.c_str()), 1);
        nodes = &database.keyframeList();
    }

    // Builds the transforms of the i-th node of the file on a mesh with an
    // identity frame at the origin, so the placement translation is T.
    void buildNode(int i) {
        ASSERT_LT(size_t(i), nodes->count);
        fixture.objects()->removeAllChildren();
        fixture.setMesh(&mesh);
        fixture.setNode(&nodes->nodes[i]);
        buildWith(fixture);
        ASSERT_GE(fixture.objects()->getNumChildren(), 4);
    }
    SbVec3f translation() { return transformAt(fixture, 0)->translation.getValue(); }
    SbRotation turn() { return transformAt(fixture, 1)->rotation.getValue(); }
    SbVec3f scaleFactor() {
        const int count = fixture.objects()->getNumChildren();
        return transformAt(fixture, count - 2)->scaleFactor.getValue();
    }

    BuilderFixture fixture;
    // The builder follows parent links through its converter's database.
    ModelDatabase& database = fixture.database;
    const KeyframeList* nodes = nullptr;
    MeshRecord mesh = meshAt(SbVec3f(0, 0, 0));
};

TEST_F(ParentedNodes, ChildUnderScaledParentIsPlacedAtTwelve) {
    read(model3ds({}, {objectNode(0, "Parent", kNoParent, {position(10, 0, 0), scale(2, 2, 2)}),
                       objectNode(1, "Child", 0, {position(1, 0, 0)})}));
    buildNode(1);
    expectVec(translation(), 12, 0, 0);
    expectVec(scaleFactor(), 2, 2, 2);
}

TEST_F(ParentedNodes, ChildOwnScaleMultipliesTheParentScale) {
    read(model3ds({}, {objectNode(0, "Parent", kNoParent, {scale(1, 1, 1)}),
                       objectNode(1, "Child", 0, {scale(2, 1, 1)})}));
    buildNode(1);
    expectVec(scaleFactor(), 2, 1, 1);
}

TEST_F(ParentedNodes, ParentTurnMovesTheChildPositionByMinusItsAngle) {
    read(model3ds({}, {objectNode(0, "Parent", kNoParent, {position(0, 0, 5), rotation(kHalfPi, 0, 0, 1)}),
                       objectNode(1, "Child", 0, {position(1, 0, 0)})}));
    buildNode(1);
    expectVec(translation(), 0, -1, 5);
    expectSameRotation(turn(), SbRotation(SbVec3f(0, 0, 1), -kHalfPi));
}

TEST_F(ParentedNodes, TurnsComposeParentFirstWithPositiveAngles) {
    read(model3ds({}, {objectNode(0, "Parent", kNoParent, {rotation(0.5f, 0, 0, 1)}),
                       objectNode(1, "Child", 0, {rotation(0.3f, 1, 0, 0)})}));
    buildNode(1);
    // The node holds the inverse of parent-then-child: the child's -0.3 first, then the parent's -0.5.
    SbMatrix childTurn, parentTurn;
    childTurn.setRotate(SbRotation(SbVec3f(1, 0, 0), -0.3f));
    parentTurn.setRotate(SbRotation(SbVec3f(0, 0, 1), -0.5f));
    SbMatrix want = childTurn;
    want.multRight(parentTurn);
    SbMatrix got;
    turn().getValue(got);
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col) EXPECT_NEAR(got[row][col], want[row][col], 1e-6f) << row << col;
}

TEST_F(ParentedNodes, SceneNodesAndAnimationMatrixPlaceAlikeThroughThreeTurnedLevels) {
    read(model3ds({}, {objectNode(0, "Grand", kNoParent, {position(0, 0, 5), rotation(kHalfPi, 0, 0, 1)}),
                       objectNode(1, "Parent", 0, {position(1, 0, 0), rotation(0.5f, 1, 0, 0), scale(2, 2, 2)}),
                       objectNode(2, "Child", 1, {position(0, 1, 0), rotation(0.3f, 0, 1, 0)})}));
    const ModelLinks links(database.meshList(), *nodes);
    const NodeChain chain = links.chainOf(2);
    const TransformBuilder builder(mesh, chain);
    const InstancePlacement still = builder.placementAt(0), moving = builder.placementAt(0, true);
    ASSERT_EQ(still.form, InstancePlacement::Form::Separate);
    ASSERT_EQ(moving.form, InstancePlacement::Form::Matrix);
    EXPECT_FALSE(still.reflects || moving.reflects);
    SbMatrix separate = SbMatrix::identity();
    for (int i = 0; i < still.nodeCount; ++i) {
        const TransformFields& t = still.nodes[i];
        SbMatrix m;
        m.setTransform(t.translation, t.rotation, t.scaleFactor, t.scaleOrientation, t.center);
        separate.multLeft(m);
    }
    // x turned by -0.3 about y, up 1, doubled, by -0.5 about x, along x by 1,
    // by -90 degrees about z, up 5; each level acts after the one below it.
    const float c3 = std::cos(0.3f), s3 = std::sin(0.3f), c5 = std::cos(0.5f), s5 = std::sin(0.5f);
    const SbVec3f origin(2 * c5, -1, 5 - 2 * s5);
    const SbVec3f x(2 * c5 + 2 * s3 * s5, -1 - 2 * c3, 5 - 2 * s5 + 2 * s3 * c5);
    for (const SbMatrix* m : {static_cast<const SbMatrix*>(&separate), &moving.matrix}) {
        SbVec3f got;
        m->multVecMatrix(SbVec3f(0, 0, 0), got);
        expectVec(got, origin[0], origin[1], origin[2]);
        m->multVecMatrix(SbVec3f(1, 0, 0), got);
        expectVec(got, x[0], x[1], x[2]);
    }
}

TEST_F(ParentedNodes, ChildTurnedUnderStretchedParentStretchesAlongItsOwnAxes) {
    // Turned by -90 degrees about z, or by -120 degrees about the diagonal, the
    // child's y axis lies along the parent's stretched x.
    const float third = 0.57735027f;
    read(model3ds({}, {objectNode(0, "Parent", kNoParent, {scale(2, 1, 1)}),
                       objectNode(1, "Quarter", 0, {rotation(kHalfPi, 0, 0, 1)}),
                       objectNode(2, "Third", 0, {rotation(2.0943951f, third, third, third)})}));
    buildNode(1);
    expectVec(scaleFactor(), 1, 2, 1);
    buildNode(2);
    expectVec(scaleFactor(), 1, 2, 1);
}

TEST_F(ParentedNodes, ChildTurnedUnderUnevenlyScaledParentGetsOneShearedMatrix) {
    // Turned 15 degrees about -x inside a parent stretched by (1.3, 1, 1.1):
    // the child's axes are no longer at right angles, which separate
    // translation, rotation and scale nodes cannot hold.
    const float angle = 15 * 3.14159265f / 180;
    read(model3ds({}, {objectNode(0, "Mount", kNoParent, {position(0, 1, 0), scale(1.3f, 1, 1.1f)}),
                       objectNode(1, "Launcher", 0, {position(2, 0, 0), rotation(angle, -1, 0, 0)})}));
    fixture.setMesh(&mesh);
    fixture.setNode(&nodes->nodes[1]);
    EXPECT_EQ(buildWith(fixture), 0);
    ASSERT_EQ(fixture.objects()->getNumChildren(), 1);
    ASSERT_TRUE(childAs<SoMatrixTransform>(fixture.objects(), 0));

    SbMatrix turn, stretch;
    turn.setRotate(SbRotation(SbVec3f(-1, 0, 0), -angle));
    stretch.setScale(SbVec3f(1.3f, 1, 1.1f));
    for (const SbVec3f& p : {SbVec3f(0, 1, 0), SbVec3f(0, 0, 1), SbVec3f(1, 2, 3)}) {
        SbVec3f turned, want;
        turn.multVecMatrix(p, turned);
        stretch.multVecMatrix(turned + SbVec3f(2, 0, 0), want);
        want += SbVec3f(0, 1, 0);
        expectVec(place(fixture, p), want[0], want[1], want[2]);
    }
}

TEST_F(ParentedNodes, UnresolvedParentMakesTheNodeARoot) {
    read(model3ds({}, {objectNode(0, "Real", kNoParent, {position(10, 0, 0)}),
                       objectNode(1, "Orphan", 0, {position(3, 0, 0), scale(2, 2, 2)})}));
    std::strcpy(nodes->nodes[1].parentName, "Ghost");
    buildNode(1);
    ASSERT_EQ(fixture.objects()->getNumChildren(), 4);
    expectVec(translation(), 3, 0, 0, 0);
    expectVec(scaleFactor(), 2, 2, 2, 0);
}

TEST_F(ParentedNodes, NodeThatIsItsOwnParentIsARoot) {
    read(model3ds({}, {objectNode(7, "Loop", 7, {position(2, 0, 0), scale(3, 3, 3)})}));
    ASSERT_STREQ(nodes->nodes[0].parentName, "Loop");
    buildNode(0);
    expectVec(translation(), 2, 0, 0, 0);
    expectVec(scaleFactor(), 3, 3, 3, 0);
}

TEST_F(ParentedNodes, TwoNodeCycleIsCutWhereItWouldCloseFromEitherEnd) {
    // The instance name arrives after the header, so the first node names
    // itself "A" as parent but is later found only as "A.i"; the second node,
    // plain "A", is the one "A" finds, and its parent is "A.i": a cycle.
    Chunk3ds first = objectNode(0, "A", 0, {position(1, 0, 0)});
    first.add(Chunk3ds(INSTANCE_NAME).name("i"));
    read(model3ds({}, {first, objectNode(1, "A", 0, {position(10, 0, 0), scale(2, 2, 2)})}));
    ASSERT_STREQ(nodes->nodes[0].parentName, "A");
    ASSERT_STREQ(nodes->nodes[1].parentName, "A.i");

    buildNode(0);  // the second node becomes the root
    expectVec(translation(), 12, 0, 0);
    expectVec(scaleFactor(), 2, 2, 2);
    buildNode(1);  // the first node becomes the root
    expectVec(translation(), 11, 0, 0);
    expectVec(scaleFactor(), 2, 2, 2);
}

TEST_F(ParentedNodes, ThreeNodeCycleFromTheOtherEnd) {
    read(model3ds({}, {objectNode(0, "A", kNoParent, {position(1, 0, 0)}),
                       objectNode(1, "B", kNoParent, {position(10, 0, 0)}),
                       objectNode(2, "C", kNoParent, {position(100, 0, 0)})}));
    std::strcpy(nodes->nodes[0].parentName, "B");
    std::strcpy(nodes->nodes[1].parentName, "C");
    std::strcpy(nodes->nodes[2].parentName, "A");
    buildNode(1);  // B under C under A; A's link back to B is cut
    expectVec(translation(), 111, 0, 0);
}

TEST_F(ParentedNodes, VeryDeepChainIsCutWithoutExhaustingTheStack) {
    const int depth = 5000;
    Chunk3ds keyframer(KFDATA);
    for (int i = 0; i < depth; ++i)
        keyframer.add(objectNode(uint16_t(i), "N" + std::to_string(i), i == 0 ? kNoParent : uint16_t(i - 1),
                                 {position(1, 0, 0)}));
    Chunk3ds magic(M3DMAGIC);
    magic.add(Chunk3ds(MDATA)).add(keyframer);
    read(magic.bytes());
    ASSERT_EQ(nodes->count, depth);
    buildNode(depth - 1);
    // The last node and the 256 ancestors above it; the chain is cut there.
    expectVec(translation(), 257, 0, 0, 0);
}

}  // namespace
