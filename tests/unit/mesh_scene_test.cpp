// Mesh geometry as it comes out of the whole converter: 3DS bytes in, the
// written scene read back with Coin.

#include <Inventor/SbVec3f.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoNormalBinding.h>
#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

// Four corners of a unit square and a point above its middle.
const std::vector<float> kPyramid = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0.5f, 0.5f, 1};
const std::vector<Face> kPyramidFaces = {{0, 1, 4}, {1, 2, 4}, {2, 3, 4}, {3, 0, 4}};

// One material group as drawn: its coordinates, its material separator and the
// smoothing-group separators at the end of it.
struct DrawnGroup {
    SoCoordinate3* coordinates = nullptr;
    SoSeparator* material = nullptr;
    std::vector<SoSeparator*> groups;
};

// Object separators are the separators that hold coordinates directly; in each,
// every SoCoordinate3 is followed by the material separator of its group.
void findDrawnGroups(SoNode* node, std::vector<DrawnGroup>& out) {
    if (!node || !node->isOfType(SoSeparator::getClassTypeId())) return;
    SoSeparator* separator = static_cast<SoSeparator*>(node);
    SoCoordinate3* pending = nullptr;
    for (int i = 0; i < separator->getNumChildren(); ++i) {
        if (SoCoordinate3* coordinates = childAs<SoCoordinate3>(separator, i)) {
            pending = coordinates;
            continue;
        }
        SoSeparator* child = childAs<SoSeparator>(separator, i);
        if (!child) continue;
        if (!pending) {
            findDrawnGroups(child, out);
            continue;
        }
        DrawnGroup drawn;
        drawn.coordinates = pending;
        drawn.material = child;
        int first = child->getNumChildren();
        while (first > 0 && childAs<SoSeparator>(child, first - 1)) --first;
        for (int j = first; j < child->getNumChildren(); ++j) drawn.groups.push_back(childAs<SoSeparator>(child, j));
        out.push_back(drawn);
        pending = nullptr;
    }
}

std::vector<DrawnGroup> drawnGroups(const ConvertedScene& scene) {
    std::vector<DrawnGroup> out;
    findDrawnGroups(scene.root, out);
    return out;
}

std::vector<int> coordIndexOf(SoSeparator* group) {
    std::vector<int> out;
    if (SoIndexedFaceSet* faceSet = childAs<SoIndexedFaceSet>(group, 2))
        for (int i = 0; i < faceSet->coordIndex.getNum(); ++i) out.push_back(faceSet->coordIndex[i]);
    return out;
}

int bindingOf(SoSeparator* group) {
    SoNormalBinding* binding = childAs<SoNormalBinding>(group, 0);
    return binding ? binding->value.getValue() : -1;
}

int normalCountOf(SoSeparator* group) {
    SoNormal* normal = childAs<SoNormal>(group, 1);
    return normal ? normal->vector.getNum() : -1;
}

// Binding, normals and face set in that order, with as many normals as the binding asks.
void expectGroupShape(SoSeparator* group, int binding, int faces) {
    ASSERT_EQ(group->getNumChildren(), 3);
    EXPECT_EQ(bindingOf(group), binding);
    ASSERT_NE(childAs<SoIndexedFaceSet>(group, 2), nullptr);
    const std::vector<int> index = coordIndexOf(group);
    ASSERT_EQ(index.size(), size_t(4 * faces));
    for (size_t i = 3; i < index.size(); i += 4) EXPECT_EQ(index[i], -1);
    EXPECT_EQ(normalCountOf(group), binding == SoNormalBinding::PER_FACE ? faces : 3 * faces);
}

int countFaceSets(SoNode* node) {
    if (node->isOfType(SoIndexedFaceSet::getClassTypeId())) return 1;
    if (!node->isOfType(SoGroup::getClassTypeId())) return 0;
    SoGroup* group = static_cast<SoGroup*>(node);
    int count = 0;
    for (int i = 0; i < group->getNumChildren(); ++i) count += countFaceSets(group->getChild(i));
    return count;
}

// Every coordIndex entry, checked against the coordinates in effect where the
// face set is drawn; separators restore what was in effect before them.
void checkIndicesWithinCoordinates(SoNode* node, int& pointCount, int& faceSets, const std::string& where) {
    if (SoCoordinate3* coordinates = dynamic_cast<SoCoordinate3*>(node)) {
        pointCount = coordinates->point.getNum();
    } else if (SoIndexedFaceSet* faceSet = dynamic_cast<SoIndexedFaceSet*>(node)) {
        ++faceSets;
        for (int i = 0; i < faceSet->coordIndex.getNum(); ++i) {
            const int index = faceSet->coordIndex[i];
            EXPECT_TRUE(index == -1 || (index >= 0 && index < pointCount))
                << where << ": index " << index << " with " << pointCount << " points";
        }
    } else if (SoGroup* group = dynamic_cast<SoGroup*>(node)) {
        const int saved = pointCount;
        for (int i = 0; i < group->getNumChildren(); ++i)
            checkIndicesWithinCoordinates(group->getChild(i), pointCount, faceSets, where);
        if (node->isOfType(SoSeparator::getClassTypeId())) pointCount = saved;
    }
}

}  // namespace

TEST(MeshScene, MeshWithoutSmoothingDataHasOnePerFaceGroup) {
    const ConvertedScene scene = convertBytes(model3ds({meshObject("Pyramid", {pointArray(kPyramid), faceArray(kPyramidFaces)})}));
    ASSERT_NE(scene.root, nullptr);
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_EQ(drawn[0].coordinates->point.getNum(), 5);
    EXPECT_EQ(drawn[0].coordinates->point[4], SbVec3f(0.5f, 0.5f, 1));
    ASSERT_EQ(drawn[0].groups.size(), 1u);
    expectGroupShape(drawn[0].groups[0], SoNormalBinding::PER_FACE, 4);
    EXPECT_EQ(coordIndexOf(drawn[0].groups[0]), (std::vector<int>{0, 1, 4, -1, 1, 2, 4, -1, 2, 3, 4, -1, 3, 0, 4, -1}));
    // The front face (0, 1, 4) leans towards -y.
    SoNormal* normals = childAs<SoNormal>(drawn[0].groups[0], 1);
    EXPECT_NEAR(normals->vector[0][0], 0.0f, 1e-6);
    EXPECT_NEAR(normals->vector[0][1], -0.894427f, 1e-5);
    EXPECT_NEAR(normals->vector[0][2], 0.447214f, 1e-5);
}

TEST(MeshScene, FaceInGroupsOneAndThreeIsDrawnTwice) {
    const ConvertedScene scene = convertBytes(model3ds({meshObject(
        "Pyramid", {pointArray(kPyramid), faceArray(kPyramidFaces, {smoothGroup({0x5, 0x1, 0x4, 0x1})})})}));
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_EQ(drawn[0].groups.size(), 2u);
    expectGroupShape(drawn[0].groups[0], SoNormalBinding::PER_VERTEX, 3);
    expectGroupShape(drawn[0].groups[1], SoNormalBinding::PER_VERTEX, 2);
    EXPECT_EQ(coordIndexOf(drawn[0].groups[0]), (std::vector<int>{0, 1, 4, -1, 1, 2, 4, -1, 3, 0, 4, -1}));
    EXPECT_EQ(coordIndexOf(drawn[0].groups[1]), (std::vector<int>{0, 1, 4, -1, 2, 3, 4, -1}));
    // The apex is smoothed over every face whose entry there carries the group.
    SoNormal* normals = childAs<SoNormal>(drawn[0].groups[0], 1);
    EXPECT_NEAR(normals->vector[2][0], 0.0f, 1e-6);
    EXPECT_NEAR(normals->vector[2][1], 0.0f, 1e-6);
    EXPECT_NEAR(normals->vector[2][2], 1.0f, 1e-6);
}

TEST(MeshScene, FlatShadingOptionGivesFaceNormalsToSmoothedFaces) {
    ConverterOptions options;
    options.flatShading = 1;
    const ConvertedScene scene = convertBytes(
        model3ds({meshObject("Pyramid", {pointArray(kPyramid), faceArray(kPyramidFaces, {smoothGroup({1, 1, 2, 2})})})}),
        options);
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_EQ(drawn[0].groups.size(), 2u);
    expectGroupShape(drawn[0].groups[0], SoNormalBinding::PER_FACE, 2);
    expectGroupShape(drawn[0].groups[1], SoNormalBinding::PER_FACE, 2);
}

TEST(MeshScene, MaterialShadingOneGivesFaceNormals) {
    const ConvertedScene scene = convertBytes(model3ds(
        {material("Flat"), material("Phong", 3),
         meshObject("Pyramid", {pointArray(kPyramid),
                                faceArray(kPyramidFaces, {materialGroup("Flat", {0, 1}), materialGroup("Phong", {2, 3}),
                                                          smoothGroup({1, 1, 1, 1})})})}));
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 2u);
    ASSERT_EQ(drawn[0].groups.size(), 1u);
    ASSERT_EQ(drawn[1].groups.size(), 1u);
    expectGroupShape(drawn[0].groups[0], SoNormalBinding::PER_FACE, 2);
    expectGroupShape(drawn[1].groups[0], SoNormalBinding::PER_VERTEX, 2);
}

TEST(MeshScene, FacesListedByNoGroupAreNotDrawnAndByTwoGroupsAreDrawnTwice) {
    const ConvertedScene scene = convertBytes(model3ds(
        {material("Red", 3), material("Blue", 3),
         meshObject("Pyramid", {pointArray(kPyramid), faceArray(kPyramidFaces, {materialGroup("Red", {1, 0}),
                                                                                 materialGroup("Blue", {1, 3})})})}));
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 2u);
    ASSERT_EQ(drawn[0].groups.size(), 1u);
    ASSERT_EQ(drawn[1].groups.size(), 1u);
    EXPECT_EQ(coordIndexOf(drawn[0].groups[0]), (std::vector<int>{1, 2, 4, -1, 0, 1, 4, -1}));
    EXPECT_EQ(coordIndexOf(drawn[1].groups[0]), (std::vector<int>{1, 2, 4, -1, 3, 0, 4, -1}));
}

TEST(MeshScene, ThreeMaterialGroupsGiveThreeIdenticalCoordinateNodes) {
    const ConvertedScene scene = convertBytes(model3ds(
        {material("A"), material("B"), material("C"),
         meshObject("Pyramid", {pointArray(kPyramid),
                                faceArray(kPyramidFaces, {materialGroup("A", {0}), materialGroup("B", {1, 2}),
                                                          materialGroup("C", {3})})})}));
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 3u);
    for (const DrawnGroup& group : drawn) {
        EXPECT_EQ(group.coordinates->point.getNum(), 5);
        EXPECT_TRUE(group.coordinates->point == drawn[0].coordinates->point);
        EXPECT_EQ(group.groups.size(), 1u);
    }
    EXPECT_NE(drawn[0].coordinates, drawn[1].coordinates);
    EXPECT_NE(drawn[1].coordinates, drawn[2].coordinates);
}

TEST(MeshScene, MeshWithNoFacesHasCoordinatesOnly) {
    const ConvertedScene scene = convertBytes(model3ds({meshObject("Points", {pointArray(kPyramid)})}));
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].coordinates->point.getNum(), 5);
    EXPECT_TRUE(drawn[0].groups.empty());
    EXPECT_EQ(countFaceSets(scene.root), 0);
}

TEST(MeshScene, OutOfRangeVertexAndFaceIndicesAreLeftOut) {
    const ConvertedScene scene = convertBytes(model3ds(
        {material("Red", 3),
         meshObject("Broken", {pointArray(kPyramid),
                               faceArray({{0, 1, 4}, {1, 5, 4}, {65535, 2, 4}, {2, 3, 4}},
                                         {materialGroup("Red", {0, 1, 2, 3, 4, 65535, 3}), smoothGroup({1, 1, 1, 1})})})}));
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_EQ(drawn[0].groups.size(), 1u);
    expectGroupShape(drawn[0].groups[0], SoNormalBinding::PER_VERTEX, 3);
    EXPECT_EQ(coordIndexOf(drawn[0].groups[0]), (std::vector<int>{0, 1, 4, -1, 2, 3, 4, -1, 2, 3, 4, -1}));
}

TEST(MeshScene, FaceArrayAfterSmoothingDataDropsTheStaleMasks) {
    // A second face array with more faces than the masks read before it.
    const ConvertedScene scene = convertBytes(model3ds({meshObject(
        "Twice", {pointArray(kPyramid), faceArray({{0, 1, 4}}, {smoothGroup({0x1})}), faceArray(kPyramidFaces)})}));
    const std::vector<DrawnGroup> drawn = drawnGroups(scene);
    ASSERT_EQ(drawn.size(), 1u);
    ASSERT_EQ(drawn[0].groups.size(), 1u);
    expectGroupShape(drawn[0].groups[0], SoNormalBinding::PER_FACE, 4);
}

TEST(MeshScene, CorpusModelsConvertWithIndicesWithinTheirCoordinates) {
    ASSERT_TRUE(corpusIsThere());
    int models = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpusFolder())) {
        const std::string extension = entry.path().extension().string();
        if (extension != ".3ds" && extension != ".3DS") continue;
        ++models;
        const std::string name = entry.path().filename().string();
        // Written beside a copy: the corpus folder is read-only.
        ConverterOptions options;
        options.outputPath = scratchDirectory() + "/" + name + ".iv";
        const ConvertedScene scene = convertFile(entry.path().string(), options);
        ASSERT_NE(scene.root, nullptr) << name;
        int pointCount = 0, faceSets = 0;
        checkIndicesWithinCoordinates(scene.root, pointCount, faceSets, name);
        EXPECT_GT(faceSets, 0) << name;
        for (const DrawnGroup& drawn : drawnGroups(scene))
            for (SoSeparator* group : drawn.groups) {
                const int faces = int(coordIndexOf(group).size() / 4);
                EXPECT_EQ(normalCountOf(group), bindingOf(group) == SoNormalBinding::PER_FACE ? faces : 3 * faces)
                    << name;
            }
    }
    EXPECT_EQ(models, 9);
}
