// Vertex-face table, mask merging and normal arithmetic, on meshes made by hand.

#include <Inventor/SbVec3f.h>
#include <Inventor/lists/SbIntList.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "geometry/MeshBuilder.h"
#include "geometry/NormalCalculator.h"
#include "geometry/VectorOps.h"
#include "geometry/VertexFaceTable.h"
#include "tests/support/BuilderFixture.h"
#include "tests/support/TestMesh.h"

using namespace kestrav;

namespace {

std::vector<int> groupsOf(VertexFaceTable& table, int f) {
    const SbIntList& list = *table.groupsOfFace(f);
    std::vector<int> out;
    for (int i = 0; i < list.getLength(); ++i) out.push_back(list[i]);
    return out;
}

std::vector<uint32_t> masksAt(const VertexFaceTable& table, int vertex) {
    const VertexFaceList list = table.list(vertex);
    std::vector<uint32_t> out;
    for (int i = 0; i < list.getCount(); ++i) out.push_back(list.item(i).mask);
    return out;
}

// Three faces fanned around vertex 0, each entered there in face order.
TestMesh fanAroundOrigin(std::vector<uint32_t> masks) {
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0, -1, 0, 1, 0, -1, 1, 1, 1, 1};
    mesh.faces = {face(0, 1, 2), face(0, 3, 4), face(0, 4, 5)};
    mesh.masks = std::move(masks);
    return mesh;
}

// The average of k face normals, as the vertex normal forms it.
SbVec3f averaged(const SbVec3f& sum, float k) {
    SbVec3f v(sum[0] / k, sum[1] / k, sum[2] / k);
    v.normalize();
    return v;
}

bool sameBits(const float a[3], const SbVec3f& b) { return std::memcmp(a, b.getValue(), 3 * sizeof(float)) == 0; }

// Runs the vertex normal the way the builder does: through a bound calculator.
SbVec3f vertexNormalOf(TestMesh& mesh, int vertex, uint32_t group) {
    BuilderFixture fixture;
    fixture.setMesh(mesh.get());
    MeshGeometry geometry;
    MeshBuilder builder(geometry, fixture.mesh, false, fixture.objects());
    const NormalCalculator calculator(*builder.table(), builder.faceNormals());
    float n[3];
    calculator.vertexNormal(vertex, group, n);
    return SbVec3f(n);
}

}  // namespace

TEST(VertexFaceTable, VertexOfFiveFacesKeepsThemInFaceOrder) {
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    for (int i = 0; i < 5; ++i) mesh.faces.push_back(face(0, 1, 2));
    mesh.masks = {0x1, 0x2, 0x4, 0x8, 0x10};
    VertexFaceTable table(mesh.get());
    table.fill();
    const VertexFaceList list = table.list(0);
    ASSERT_EQ(list.getCount(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(list.item(i).face, i);
}

TEST(VertexFaceTable, GroupsOfFaceListsSetBitsAscending) {
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    mesh.faces = {face(0, 1, 2), face(0, 1, 2), face(0, 1, 2), face(0, 1, 2)};
    mesh.masks = {0x0, 0x5, 0x80000000u, 0xFFFFFFFFu};
    VertexFaceTable table(mesh.get());
    EXPECT_EQ(groupsOf(table, 0), std::vector<int>{0});
    EXPECT_EQ(groupsOf(table, 1), (std::vector<int>{1, 3}));
    EXPECT_EQ(groupsOf(table, 2), std::vector<int>{32});
    std::vector<int> all;
    for (int g = 1; g <= 32; ++g) all.push_back(g);
    EXPECT_EQ(groupsOf(table, 3), all);
}

TEST(VertexFaceTable, MeshWithoutSmoothingDataPutsEveryFaceInGroupZero) {
    TestMesh mesh = fanAroundOrigin({});
    VertexFaceTable table(mesh.get());
    table.fill();
    for (int f = 0; f < 3; ++f) {
        EXPECT_EQ(table.smoothingMask(f), 0u);
        EXPECT_EQ(groupsOf(table, f), std::vector<int>{0});
    }
    EXPECT_EQ(masksAt(table, 0), (std::vector<uint32_t>{0, 0, 0}));
}

TEST(VertexFaceTable, MergeWidensEarlierEntriesAndAssignsTheNewOne) {
    {
        TestMesh mesh = fanAroundOrigin({0x1, 0x2, 0x3});
        VertexFaceTable table(mesh.get());
        table.fill();
        EXPECT_EQ(masksAt(table, 0), (std::vector<uint32_t>{0x3, 0x3, 0x3}));
    }
    {
        // Entry 3 overlaps both earlier ones but keeps only the last overlap's bits.
        TestMesh mesh = fanAroundOrigin({0x3, 0xC, 0x5});
        VertexFaceTable table(mesh.get());
        table.fill();
        EXPECT_EQ(masksAt(table, 0), (std::vector<uint32_t>{0x7, 0xD, 0xD}));
        // Vertex 4 is shared by faces 1 and 2 only.
        EXPECT_EQ(masksAt(table, 4), (std::vector<uint32_t>{0xD, 0xD}));
        // Vertices used by one face keep that face's own mask.
        EXPECT_EQ(masksAt(table, 1), std::vector<uint32_t>{0x3});
        EXPECT_EQ(masksAt(table, 5), std::vector<uint32_t>{0x5});
    }
    {
        TestMesh mesh = fanAroundOrigin({0x0, 0x1, 0x0});
        VertexFaceTable table(mesh.get());
        table.fill();
        EXPECT_EQ(masksAt(table, 0), (std::vector<uint32_t>{0x0, 0x1, 0x0}));
    }
}

// Masks merged entry by entry, each against every earlier one, on fans long
// enough to be merged by classes too.
TEST(VertexFaceTable, MergeGivesTheEntryByEntryMasksForRandomFans) {
    std::mt19937 random(11);
    for (int round = 0; round < 200; ++round) {
        const uint32_t pool = uint32_t(random()) & uint32_t(random());  // few bits: chains and disjoint runs
        TestMesh mesh = fanAroundOrigin({});
        mesh.faces.assign(1 + random() % 150, face(0, 1, 2));
        std::vector<uint32_t> merged;
        for (size_t f = 0; f < mesh.faces.size(); ++f) {
            const uint32_t a = uint32_t(random()) & uint32_t(random()) & pool;
            mesh.masks.push_back(a);
            merged.push_back(a);
            for (size_t i = 0; i + 1 < merged.size(); ++i)
                if ((a & merged[i]) != 0) merged.back() = merged[i] |= a;
        }
        VertexFaceTable table(mesh.get());
        table.fill();
        ASSERT_EQ(masksAt(table, 0), merged) << "round " << round;
    }
}

// Merging each face with every earlier one took seconds on this fan.
TEST(VertexFaceTable, FanOfSixtyThousandDistinctMasksAveragesEveryFace) {
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1};
    for (uint32_t f = 0; f < 60000; ++f) {
        mesh.faces.push_back(f % 3 == 2 ? face(0, 3, 1) : face(0, 1, 2));
        mesh.masks.push_back(f + 1);  // chained into one class of bits 1 to 16
    }
    const SbVec3f up = faceNormalOf(mesh, 0), side = faceNormalOf(mesh, 2);
    ASSERT_EQ(up, SbVec3f(0, 0, 1));
    ASSERT_EQ(side, SbVec3f(0, 1, 0));
    const SbVec3f normal = vertexNormalOf(mesh, 0, 16);
    EXPECT_TRUE(normal.equals(averaged(2 * up + side, 3), 1e-5f)) << normal[0] << ' ' << normal[1] << ' ' << normal[2];
    EXPECT_EQ(vertexNormalOf(mesh, 0, 17), SbVec3f(0, 0, 0));
    EXPECT_EQ(vertexNormalOf(mesh, 3, 1), side);  // vertex 3 is on the side faces only
}

TEST(VertexFaceTable, FaceNamingMissingVertexIsLeftOut) {
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    mesh.faces = {face(0, 1, 2), face(0, 1, 3), face(65535, 1, 2)};
    mesh.masks = {0x1, 0x1, 0x1};
    VertexFaceTable table(mesh.get());
    table.fill();
    EXPECT_TRUE(table.isUsableFace(0));
    EXPECT_FALSE(table.isUsableFace(1));
    EXPECT_FALSE(table.isUsableFace(2));
    EXPECT_FALSE(table.isUsableFace(3));
    EXPECT_FALSE(table.isUsableFace(-1));
    for (int v = 0; v < 3; ++v) {
        ASSERT_EQ(table.list(v).getCount(), 1);
        EXPECT_EQ(table.list(v).item(0).face, 0);
    }
    EXPECT_EQ(table.smoothingMask(3), 0u);
}

TEST(VertexFaceTable, MissingArraysCountAsEmpty) {
    TestMesh mesh;
    mesh.faces = {face(0, 1, 2)};
    MeshRecord* record = mesh.get();
    VertexFaceTable noVertices(record);
    noVertices.fill();
    EXPECT_EQ(noVertices.vertexCount(), 0);
    EXPECT_FALSE(noVertices.isUsableFace(0));

    record->faces = nullptr;
    record->vertexCount = 3;  // a count without its array is not trusted
    VertexFaceTable noFaces(record);
    noFaces.fill();
    EXPECT_EQ(noFaces.vertexCount(), 0);
    EXPECT_EQ(noFaces.faceCount(), 0);
    EXPECT_EQ(groupsOf(noFaces, 0), std::vector<int>{0});
}

TEST(NormalCalculator, FaceNormalFollowsWindingAndIsUnitLength) {
    const float o[3] = {0, 0, 0}, x[3] = {1, 0, 0}, y[3] = {0, 1, 0};
    float n[3];
    NormalCalculator::faceNormal(o, x, y, n);
    EXPECT_EQ(SbVec3f(n), SbVec3f(0, 0, 1));
    NormalCalculator::faceNormal(o, y, x, n);
    EXPECT_EQ(SbVec3f(n), SbVec3f(0, 0, -1));

    const float x2[3] = {2, 0, 0}, y3[3] = {0, 3, 0};
    NormalCalculator::faceNormal(o, x2, y3, n);
    EXPECT_EQ(SbVec3f(n), SbVec3f(0, 0, 1));
}

TEST(NormalCalculator, DegenerateTriangleGivesZeroUnnormalised) {
    const float a[3] = {0, 0, 0}, b[3] = {1, 1, 1}, c[3] = {2, 2, 2};
    float n[3] = {7, 7, 7};
    NormalCalculator::faceNormal(a, b, c, n);
    EXPECT_EQ(n[0], 0.0f);
    EXPECT_EQ(n[1], 0.0f);
    EXPECT_EQ(n[2], 0.0f);
    EXPECT_FALSE(std::isnan(n[0]) || std::isnan(n[1]) || std::isnan(n[2]));
}

TEST(NormalCalculator, CornersTooFarApartOrTooCloseForFloatsStillGiveAUnitNormal) {
    // Edges of 6e38 overflow a float; the squared length of the cross product of
    // edges 1e-20 long vanishes.
    const float farA[3] = {-3e38f, -3e38f, 0}, farB[3] = {3e38f, -3e38f, 0}, farC[3] = {0, 3e38f, 0};
    const float nearA[3] = {0, 0, 0}, nearB[3] = {1e-20f, 0, 0}, nearC[3] = {0, 1e-20f, 0};
    float n[3];
    NormalCalculator::faceNormal(farA, farB, farC, n);
    EXPECT_EQ(SbVec3f(n), SbVec3f(0, 0, 1));
    NormalCalculator::faceNormal(nearA, nearC, nearB, n);
    EXPECT_EQ(SbVec3f(n), SbVec3f(0, 0, -1));
    // A corner that is not a number has no direction; the normal stays finite.
    const float nan[3] = {std::numeric_limits<float>::quiet_NaN(), 0, 0};
    NormalCalculator::faceNormal(nan, farB, farC, n);
    EXPECT_EQ(SbVec3f(n), SbVec3f(0, 0, 0));
}

TEST(VectorOps, SubtractAndCross) {
    float a[3] = {1, 2, 3};
    const float b[3] = {4, 5, 6};
    float out[3];
    subtract(a, b, out);
    EXPECT_EQ(SbVec3f(out), SbVec3f(-3, -3, -3));
    cross(a, b, out);
    EXPECT_EQ(SbVec3f(out), SbVec3f(-3, 6, -3));
    // The result may overwrite an operand.
    cross(a, b, a);
    EXPECT_EQ(SbVec3f(a), SbVec3f(-3, 6, -3));
}

TEST(VectorOps, DotTruncatesTowardZero) {
    const float one[3] = {1, 0, 0};
    int out = 99;
    const float nearOne[3] = {0.99f, 5, 5};
    dotTruncated(one, nearOne, out);
    EXPECT_EQ(out, 0);
    const float minusOneAndHalf[3] = {-1.5f, 0, 0};
    dotTruncated(one, minusOneAndHalf, out);
    EXPECT_EQ(out, -1);
    const float a[3] = {2, 3, 4}, b[3] = {1, 1, 0.5f};
    dotTruncated(a, b, out);
    EXPECT_EQ(out, 7);
}

TEST(VectorOps, DotOutsideIntRangeIsClamped) {
    const float one[3] = {1, 0, 0};
    const float huge[3] = {1e30f, 0, 0}, hugeNegative[3] = {-1e30f, 0, 0};
    const float nan[3] = {std::numeric_limits<float>::quiet_NaN(), 0, 0};
    int out = 5;
    dotTruncated(one, huge, out);
    EXPECT_EQ(out, std::numeric_limits<int>::max());
    dotTruncated(one, hugeNegative, out);
    EXPECT_EQ(out, std::numeric_limits<int>::min());
    dotTruncated(one, nan, out);
    EXPECT_EQ(out, 0);
}

TEST(NormalCalculator, VertexNormalAveragesFacesByMergedMasks) {
    // At vertex 0 the entries end as 0x7, 0xD, 0xD.
    TestMesh mesh = fanAroundOrigin({0x3, 0xC, 0x5});
    const SbVec3f n0 = faceNormalOf(mesh, 0), n1 = faceNormalOf(mesh, 1), n2 = faceNormalOf(mesh, 2);
    ASSERT_NE(n0, n1);
    ASSERT_NE(n1, n2);
    // Group 2 is carried by the first entry alone.
    EXPECT_EQ(vertexNormalOf(mesh, 0, 2), averaged(n0, 1));
    // Group 1: all three entries, although face 1's own mask is 0xC.
    EXPECT_EQ(vertexNormalOf(mesh, 0, 1), averaged(n0 + n1 + n2, 3));
    // Group 4: the last two; face 2's own mask 0x5 lacks it, its merged entry has it.
    EXPECT_EQ(vertexNormalOf(mesh, 0, 4), averaged(n1 + n2, 2));
    // Group 3 reaches every entry.
    EXPECT_EQ(vertexNormalOf(mesh, 0, 3), averaged(n0 + n1 + n2, 3));
}

TEST(NormalCalculator, VertexNormalOfGroupNoEntryCarriesIsZero) {
    TestMesh mesh = fanAroundOrigin({0x3, 0xC, 0x5});
    EXPECT_EQ(vertexNormalOf(mesh, 0, 6), SbVec3f(0, 0, 0));
    EXPECT_EQ(vertexNormalOf(mesh, 0, 32), SbVec3f(0, 0, 0));
    // Out-of-range arguments read nothing.
    EXPECT_EQ(vertexNormalOf(mesh, 0, 0), SbVec3f(0, 0, 0));
    EXPECT_EQ(vertexNormalOf(mesh, 0, 33), SbVec3f(0, 0, 0));
    EXPECT_EQ(vertexNormalOf(mesh, 6, 1), SbVec3f(0, 0, 0));
    EXPECT_EQ(vertexNormalOf(mesh, -1, 1), SbVec3f(0, 0, 0));
}

TEST(NormalCalculator, VertexNormalOfOneFaceIsItsFaceNormal) {
    TestMesh mesh = fanAroundOrigin({0x1, 0x2, 0x4});
    EXPECT_EQ(vertexNormalOf(mesh, 1, 1), averaged(faceNormalOf(mesh, 0), 1));
    EXPECT_EQ(vertexNormalOf(mesh, 5, 3), averaged(faceNormalOf(mesh, 2), 1));
    EXPECT_EQ(vertexNormalOf(mesh, 5, 1), SbVec3f(0, 0, 0));
}

TEST(NormalCalculator, VertexNormalDividesBySumCountExactly) {
    // Three faces around the origin whose summed normals, divided by 3, end in
    // other bits than when multiplied by 1/3.
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 2, 2, 0, -2, -2, 1, 0, 1, 1};
    mesh.faces = {face(0, 1, 2), face(0, 2, 3), face(0, 3, 1)};
    mesh.masks = {0x1, 0x1, 0x1};
    const SbVec3f sum = faceNormalOf(mesh, 0) + faceNormalOf(mesh, 1) + faceNormalOf(mesh, 2);

    SbVec3f divided(sum[0] / 3.0f, sum[1] / 3.0f, sum[2] / 3.0f);
    divided.normalize();
    SbVec3f multiplied = sum;
    multiplied /= 3.0f;
    multiplied.normalize();
    ASSERT_NE(std::memcmp(divided.getValue(), multiplied.getValue(), 3 * sizeof(float)), 0);

    const SbVec3f result = vertexNormalOf(mesh, 0, 1);
    EXPECT_TRUE(sameBits(result.getValue(), divided));
    EXPECT_EQ(result[1], 0.279817611f);
}
