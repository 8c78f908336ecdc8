// MeshBuilder on hand-made mesh records: coordinates, smoothing-group face sets
// and their normals.

#include <Inventor/SbVec3f.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoNormalBinding.h>
#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <utility>
#include <vector>

#include "geometry/MeshBuilder.h"
#include "geometry/NormalCalculator.h"
#include "tests/support/BuilderFixture.h"
#include "tests/support/TestMesh.h"
#include "tests/support/SceneFixture.h"

using namespace kestrav;

namespace {

// A square in the z = 0 plane as two triangles, and a third triangle standing
// up along its edge from vertex 1 to vertex 2.
TestMesh squareWithFlap(std::vector<uint32_t> masks) {
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0.5f, 1};
    mesh.faces = {face(0, 1, 2), face(0, 2, 3), face(1, 4, 2)};
    mesh.masks = std::move(masks);
    return mesh;
}

// The group separators a builder added, after whatever else the parent holds.
std::vector<SoSeparator*> groupSeparators(SoSeparator* parent) {
    std::vector<SoSeparator*> out;
    for (int i = 0; i < parent->getNumChildren(); ++i)
        if (SoSeparator* child = childAs<SoSeparator>(parent, i)) out.push_back(child);
    return out;
}

std::vector<int> coordIndexOf(SoSeparator* group) {
    SoIndexedFaceSet* faceSet = childAs<SoIndexedFaceSet>(group, 2);
    std::vector<int> out;
    if (!faceSet) return out;
    for (int i = 0; i < faceSet->coordIndex.getNum(); ++i) out.push_back(faceSet->coordIndex[i]);
    return out;
}

int bindingOf(SoSeparator* group) {
    SoNormalBinding* binding = childAs<SoNormalBinding>(group, 0);
    return binding ? binding->value.getValue() : -1;
}

std::vector<SbVec3f> normalsOf(SoSeparator* group) {
    SoNormal* normal = childAs<SoNormal>(group, 1);
    std::vector<SbVec3f> out;
    if (!normal) return out;
    for (int i = 0; i < normal->vector.getNum(); ++i) out.push_back(normal->vector[i]);
    return out;
}

// Checks the three children of a group separator and returns its face count.
int checkGroupShape(SoSeparator* group) {
    EXPECT_EQ(group->getNumChildren(), 3);
    EXPECT_NE(childAs<SoNormalBinding>(group, 0), nullptr);
    EXPECT_NE(childAs<SoNormal>(group, 1), nullptr);
    SoIndexedFaceSet* faceSet = childAs<SoIndexedFaceSet>(group, 2);
    EXPECT_NE(faceSet, nullptr);
    if (!faceSet) return 0;
    EXPECT_TRUE(faceSet->normalIndex.isDefault());
    EXPECT_TRUE(faceSet->materialIndex.isDefault());
    EXPECT_TRUE(faceSet->textureCoordIndex.isDefault());
    const std::vector<int> index = coordIndexOf(group);
    EXPECT_EQ(index.size() % 4, 0u);
    for (size_t i = 3; i < index.size(); i += 4) EXPECT_EQ(index[i], -1);
    const int faces = int(index.size() / 4);
    const int normals = int(normalsOf(group).size());
    EXPECT_EQ(normals, bindingOf(group) == SoNormalBinding::PER_FACE ? faces : 3 * faces);
    return faces;
}

class MeshBuilderTest : public testing::Test {
protected:
    BuilderFixture fixture;

    void build(TestMesh& mesh, int shading = 0, int flatShading = 0) {
        ConverterOptions options;
        options.flatShading = flatShading;
        fixture.setOptions(options);
        fixture.setMesh(mesh.get());
        MeshGeometry geometry;
        MeshBuilder builder(geometry, fixture.mesh, fixture.options.flatShading, fixture.objects());
        builder.buildGeometry(0, shading, fixture.materials());
    }
};

}  // namespace

TEST_F(MeshBuilderTest, MeshWithoutSmoothingDataGivesOnePerFaceGroupAfterTheAppearance) {
    TestMesh mesh = squareWithFlap({});
    SoMaterial* appearance = new SoMaterial;
    fixture.materials()->addChild(appearance);
    build(mesh);

    ASSERT_EQ(fixture.objects()->getNumChildren(), 1);
    SoCoordinate3* coordinates = childAs<SoCoordinate3>(fixture.objects(), 0);
    ASSERT_NE(coordinates, nullptr);
    ASSERT_EQ(coordinates->point.getNum(), 5);
    for (int v = 0; v < 5; ++v) EXPECT_EQ(coordinates->point[v], SbVec3f(&mesh.vertices[3 * v]));

    ASSERT_EQ(fixture.materials()->getNumChildren(), 2);
    EXPECT_EQ(fixture.materials()->getChild(0), appearance);
    SoSeparator* group = childAs<SoSeparator>(fixture.materials(), 1);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(checkGroupShape(group), 3);
    EXPECT_EQ(bindingOf(group), SoNormalBinding::PER_FACE);
    EXPECT_EQ(coordIndexOf(group), (std::vector<int>{0, 1, 2, -1, 0, 2, 3, -1, 1, 4, 2, -1}));
    const std::vector<SbVec3f> normals = normalsOf(group);
    EXPECT_EQ(normals[0], SbVec3f(0, 0, 1));
    EXPECT_EQ(normals[1], SbVec3f(0, 0, 1));
    EXPECT_EQ(normals[2], faceNormalOf(mesh, 2));
}

TEST_F(MeshBuilderTest, GroupSeparatorsComeInGroupOrder) {
    TestMesh mesh = squareWithFlap({0x4, 0x0, 0x1});
    mesh.faces.push_back(face(3, 2, 4));
    mesh.masks.push_back(0x80000000u);
    build(mesh);

    const std::vector<SoSeparator*> groups = groupSeparators(fixture.materials());
    ASSERT_EQ(groups.size(), 4u);
    for (SoSeparator* group : groups) EXPECT_EQ(checkGroupShape(group), 1);
    EXPECT_EQ(bindingOf(groups[0]), SoNormalBinding::PER_FACE);
    EXPECT_EQ(coordIndexOf(groups[0]), (std::vector<int>{0, 2, 3, -1}));
    EXPECT_EQ(coordIndexOf(groups[1]), (std::vector<int>{1, 4, 2, -1}));
    EXPECT_EQ(coordIndexOf(groups[2]), (std::vector<int>{0, 1, 2, -1}));
    EXPECT_EQ(coordIndexOf(groups[3]), (std::vector<int>{3, 2, 4, -1}));
    for (int i = 1; i < 4; ++i) EXPECT_EQ(bindingOf(groups[i]), SoNormalBinding::PER_VERTEX);
}

TEST_F(MeshBuilderTest, FaceInGroupsOneAndThreeIsDrawnTwiceWithEachGroupsNormals) {
    // Face 0 (flat, groups 1 and 3) is followed at vertex 0 by face 1 (group 2)
    // and face 2 (groups 1 and 2). Face 2's entry there takes its bits from
    // face 1, the last entry it overlaps, so at vertex 0 faces 1 and 2 count
    // for group 1 and not for group 3.
    TestMesh mesh;
    mesh.vertices = {0, 0, 0, 1, 0, 0, 0, 1, 0, -1, 0, 1, 0, -1, 1};
    mesh.faces = {face(0, 1, 2), face(0, 2, 3), face(0, 3, 4)};
    mesh.masks = {0x5, 0x2, 0x3};
    build(mesh);

    const std::vector<SoSeparator*> groups = groupSeparators(fixture.materials());
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(coordIndexOf(groups[0]), (std::vector<int>{0, 1, 2, -1, 0, 3, 4, -1}));
    EXPECT_EQ(coordIndexOf(groups[1]), (std::vector<int>{0, 2, 3, -1, 0, 3, 4, -1}));
    EXPECT_EQ(coordIndexOf(groups[2]), (std::vector<int>{0, 1, 2, -1}));
    for (SoSeparator* group : groups) {
        checkGroupShape(group);
        EXPECT_EQ(bindingOf(group), SoNormalBinding::PER_VERTEX);
    }

    const SbVec3f f0 = faceNormalOf(mesh, 0), f1 = faceNormalOf(mesh, 1), f2 = faceNormalOf(mesh, 2);
    SbVec3f smooth((f0[0] + f1[0] + f2[0]) / 3, (f0[1] + f1[1] + f2[1]) / 3, (f0[2] + f1[2] + f2[2]) / 3);
    smooth.normalize();
    ASSERT_NE(smooth, SbVec3f(0, 0, 1));
    const std::vector<SbVec3f> inGroupOne = normalsOf(groups[0]);
    EXPECT_EQ(inGroupOne[0], smooth);
    EXPECT_EQ(inGroupOne[1], SbVec3f(0, 0, 1));
    EXPECT_EQ(inGroupOne[2], SbVec3f(0, 0, 1));
    EXPECT_EQ(inGroupOne[3], smooth);
    for (const SbVec3f& n : normalsOf(groups[2])) EXPECT_EQ(n, SbVec3f(0, 0, 1));
}

TEST_F(MeshBuilderTest, FlatShadingOrShadingOneGivesFaceNormalsToEveryGroup) {
    for (int variant = 0; variant < 3; ++variant) {
        BuilderFixture own;
        TestMesh mesh = squareWithFlap({0x1, 0x1, 0x2});
        ConverterOptions options;
        options.flatShading = variant == 1;
        own.setOptions(options);
        own.setMesh(mesh.get());
        MeshGeometry geometry;
        MeshBuilder builder(geometry, own.mesh, own.options.flatShading, own.objects());
        builder.buildGeometry(0, variant == 2 ? 1 : 0, own.materials());

        const std::vector<SoSeparator*> groups = groupSeparators(own.materials());
        ASSERT_EQ(groups.size(), 2u);
        const int expected = variant == 0 ? SoNormalBinding::PER_VERTEX : SoNormalBinding::PER_FACE;
        for (SoSeparator* group : groups) {
            EXPECT_EQ(bindingOf(group), expected) << "variant " << variant;
            checkGroupShape(group);
        }
        if (variant != 0) {
            EXPECT_EQ(normalsOf(groups[1])[0], faceNormalOf(mesh, 2));
        }
    }
}

TEST_F(MeshBuilderTest, MaterialGroupsSelectFacesInTheirOwnOrder) {
    TestMesh mesh = squareWithFlap({});
    mesh.groupFaces = {{2, 0}, {0}};  // face 1 is in no group, face 0 in both
    fixture.setMesh(mesh.get());
    SoSeparator* first = new SoSeparator;
    SoSeparator* second = new SoSeparator;
    first->ref();
    second->ref();
    {
        MeshGeometry geometry;
        MeshBuilder builder(geometry, fixture.mesh, false, fixture.objects());
        builder.buildGeometry(0, 0, first);
        builder.buildGeometry(1, 0, second);
    }
    EXPECT_EQ(fixture.materials()->getNumChildren(), 0);

    ASSERT_EQ(fixture.objects()->getNumChildren(), 2);
    SoCoordinate3* a = childAs<SoCoordinate3>(fixture.objects(), 0);
    SoCoordinate3* b = childAs<SoCoordinate3>(fixture.objects(), 1);
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_TRUE(a->point == b->point);

    ASSERT_EQ(groupSeparators(first).size(), 1u);
    ASSERT_EQ(groupSeparators(second).size(), 1u);
    EXPECT_EQ(coordIndexOf(groupSeparators(first)[0]), (std::vector<int>{1, 4, 2, -1, 0, 1, 2, -1}));
    EXPECT_EQ(coordIndexOf(groupSeparators(second)[0]), (std::vector<int>{0, 1, 2, -1}));
    first->unref();
    second->unref();
}

TEST_F(MeshBuilderTest, VertexNormalsAverageFacesOfOtherMaterialGroups) {
    TestMesh mesh = squareWithFlap({0x1, 0x1, 0x1});
    mesh.groupFaces = {{0}, {2}};
    fixture.setMesh(mesh.get());
    {
        MeshGeometry geometry;
        MeshBuilder builder(geometry, fixture.mesh, false, fixture.objects());
        builder.buildGeometry(0, 0, fixture.materials());
    }
    const std::vector<SoSeparator*> groups = groupSeparators(fixture.materials());
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(coordIndexOf(groups[0]), (std::vector<int>{0, 1, 2, -1}));
    const SbVec3f square = faceNormalOf(mesh, 0), flap = faceNormalOf(mesh, 2);
    // Vertex 2 is used by faces 0 and 1 (square) and 2 (flap).
    SbVec3f atTwo((square[0] * 2 + flap[0]) / 3, (square[1] * 2 + flap[1]) / 3, (square[2] * 2 + flap[2]) / 3);
    atTwo.normalize();
    EXPECT_EQ(normalsOf(groups[0])[2], atTwo);
}

namespace {

// Every face set a builder made under parent: the coordinate indices, then
// the normals, group after group.
std::pair<std::vector<int>, std::vector<SbVec3f>> faceSetsOf(SoSeparator* parent) {
    std::pair<std::vector<int>, std::vector<SbVec3f>> sets;
    for (SoSeparator* group : groupSeparators(parent)) {
        const std::vector<int> index = coordIndexOf(group);
        const std::vector<SbVec3f> normals = normalsOf(group);
        sets.first.insert(sets.first.end(), index.begin(), index.end());
        sets.second.insert(sets.second.end(), normals.begin(), normals.end());
    }
    return sets;
}

std::pair<std::vector<int>, std::vector<SbVec3f>> builtIn(MeshGeometry& geometry, TestMesh& mesh) {
    SoSeparator* coordinates = new SoSeparator;
    SoSeparator* faceSets = new SoSeparator;
    coordinates->ref();
    faceSets->ref();
    MeshBuilder(geometry, mesh.get(), false, coordinates).buildGeometry(0, 0, faceSets);
    std::pair<std::vector<int>, std::vector<SbVec3f>> sets = faceSetsOf(faceSets);
    coordinates->unref();
    faceSets->unref();
    return sets;
}

}  // namespace

// One geometry serves mesh after mesh; nothing of a mesh may reach the next:
// not the faces entered at a vertex, nor a vertex that was not finite.
TEST(MeshGeometryReuse, NextMeshGivesWhatAFreshGeometryGives) {
    // Nine faces fanned around vertex 0 over a bumpy rim, two smoothing
    // groups, and vertex 1 not finite, so face (1, 2, 3) is left out.
    TestMesh crowded;
    crowded.vertices = {0, 0, 0, std::nanf(""), 0, 0};
    for (int r = 0; r < 10; ++r) {
        const float angle = float(r) * 0.6f;
        crowded.vertices.insert(crowded.vertices.end(), {std::cos(angle), std::sin(angle), 0.1f * float(r % 3)});
    }
    for (uint16_t r = 2; r < 11; ++r) {
        crowded.faces.push_back(face(0, r, uint16_t(r + 1)));
        crowded.masks.push_back(r % 2 ? 0x1 : 0x3);
    }
    crowded.faces.push_back(face(1, 2, 3));
    crowded.masks.push_back(0x1);
    // Fewer vertices, vertex 1 finite and used, three faces at vertex 0.
    TestMesh small;
    small.vertices = {0, 0, 0, 1, 0, 0.3f, 0, 1, 0, -1, 0, 0.5f};
    small.faces = {face(0, 1, 2), face(0, 2, 3), face(1, 2, 3)};
    small.masks = {0x1, 0x3, 0x2};

    for (int order = 0; order < 2; ++order) {
        TestMesh& first = order == 0 ? crowded : small;
        TestMesh& second = order == 0 ? small : crowded;
        MeshGeometry reused;
        const auto firstSets = builtIn(reused, first);
        const auto secondSets = builtIn(reused, second);
        MeshGeometry fresh;
        const auto freshSets = builtIn(fresh, second);
        EXPECT_EQ(secondSets.first, freshSets.first) << "order " << order;
        EXPECT_EQ(secondSets.second, freshSets.second) << "order " << order;
        // The same geometry gives the first mesh's sets again after the second.
        EXPECT_EQ(builtIn(reused, first), firstSets) << "order " << order;
    }
    MeshGeometry fresh;
    const auto smallSets = builtIn(fresh, small);
    // Group 1 holds faces 0 and 1, group 2 faces 1 and 2: face (1, 2, 3) is drawn.
    EXPECT_EQ(smallSets.first, (std::vector<int>{0, 1, 2, -1, 0, 2, 3, -1, 0, 2, 3, -1, 1, 2, 3, -1}));
    const auto crowdedSets = builtIn(fresh, crowded);
    for (size_t i = 0; i < crowdedSets.first.size(); i += 4) EXPECT_NE(crowdedSets.first[i], 1);
}

TEST_F(MeshBuilderTest, OutOfRangeIndicesAreLeftOut) {
    TestMesh mesh = squareWithFlap({0x1, 0x1, 0x1});
    mesh.faces.push_back(face(0, 5, 1));      // vertex 5 does not exist
    mesh.faces.push_back(face(65535, 1, 2));  // nor does 65535
    mesh.masks.push_back(0x1);
    mesh.masks.push_back(0x1);
    mesh.groupFaces = {{0, 3, 9, 65535, 4, 2}};
    fixture.setMesh(mesh.get());
    {
        MeshGeometry geometry;
        MeshBuilder builder(geometry, fixture.mesh, false, fixture.objects());
        builder.buildGeometry(0, 0, fixture.materials());
        builder.buildGeometry(1, 0, fixture.materials());   // no such material group
        builder.buildGeometry(-1, 0, fixture.materials());
    }
    EXPECT_EQ(fixture.objects()->getNumChildren(), 3);
    const std::vector<SoSeparator*> groups = groupSeparators(fixture.materials());
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(coordIndexOf(groups[0]), (std::vector<int>{0, 1, 2, -1, 1, 4, 2, -1}));
    checkGroupShape(groups[0]);
}

TEST_F(MeshBuilderTest, MeshWithoutFacesGivesCoordinatesOnly) {
    TestMesh mesh = squareWithFlap({});
    mesh.faces.clear();
    build(mesh);
    ASSERT_EQ(fixture.objects()->getNumChildren(), 1);
    SoCoordinate3* coordinates = childAs<SoCoordinate3>(fixture.objects(), 0);
    ASSERT_NE(coordinates, nullptr);
    EXPECT_EQ(coordinates->point.getNum(), 5);
    EXPECT_EQ(fixture.materials()->getNumChildren(), 0);
}

TEST_F(MeshBuilderTest, MeshWithoutVerticesDrawsNoFaces) {
    TestMesh mesh = squareWithFlap({0x1, 0x0, 0x2});
    mesh.vertices.clear();
    build(mesh);
    SoCoordinate3* coordinates = childAs<SoCoordinate3>(fixture.objects(), 0);
    ASSERT_NE(coordinates, nullptr);
    EXPECT_EQ(coordinates->point.getNum(), 0);
    EXPECT_EQ(fixture.materials()->getNumChildren(), 0);
}

TEST_F(MeshBuilderTest, EveryCornerOfAVertexGetsTheNormalTheCalculatorGivesIt) {
    // A fan of faces round vertex 0 over a wavy rim, all in group 1, so every
    // corner at the hub shares one averaged normal and rim corners differ.
    TestMesh mesh;
    const int rim = 200;
    mesh.vertices = {0, 0, 1};
    for (int i = 0; i < rim; ++i) {
        const float angle = 6.2831853f * float(i) / rim;
        mesh.vertices.insert(mesh.vertices.end(), {std::cos(angle), std::sin(angle), 0.1f * float(i % 7)});
    }
    for (int i = 0; i < rim; ++i) mesh.faces.push_back(face(0, uint16_t(1 + i), uint16_t(1 + (i + 1) % rim)));
    mesh.masks.assign(mesh.faces.size(), 0x1);
    build(mesh);

    const std::vector<SoSeparator*> groups = groupSeparators(fixture.materials());
    ASSERT_EQ(groups.size(), 1u);
    const std::vector<int> index = coordIndexOf(groups[0]);
    const std::vector<SbVec3f> normals = normalsOf(groups[0]);
    ASSERT_EQ(normals.size(), size_t(3 * rim));

    MeshGeometry geometry;

    MeshBuilder builder(geometry, fixture.mesh, false, fixture.objects());
    const NormalCalculator calculator(*builder.table(), builder.faceNormals());
    for (int corner = 0; corner < 3 * rim; ++corner) {
        float expected[3];
        calculator.vertexNormal(index[size_t(corner / 3 * 4 + corner % 3)], 1, expected);
        ASSERT_EQ(normals[size_t(corner)], SbVec3f(expected)) << "corner " << corner;
    }
}
