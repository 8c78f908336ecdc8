// The converter's walk: one object separator per mesh instance, one material
// separator per material group, and the line-width range asked of the caller
// only when a wire material needs it.

#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoDrawStyle.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTransform.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "convert/SceneConverter.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

const std::vector<float> kTriangle = {0, 0, 0, 1, 0, 0, 0, 1, 0};

Chunk3ds triangleMesh(const std::string& name, std::initializer_list<Chunk3ds> groups = {}) {
    Chunk3ds faces = faceArray({{0, 1, 2}});
    for (const Chunk3ds& group : groups) faces.add(group);
    return meshObject(name, {pointArray(kTriangle), faces});
}

int countChildren(SoNode* group, SoType type) {
    int count = 0;
    for (int i = 0; SoNode* child = childAs<SoNode>(group, i); ++i) count += child->isOfType(type) ? 1 : 0;
    return count;
}

}  // namespace

TEST(Converter, EachKeyframerInstanceGetsItsOwnObjectSeparatorWithTransforms) {
    // Box has three instances; Lone has none and comes after it, so it must not
    // inherit Box's last node.
    const Bytes file = model3ds({triangleMesh("Box"), triangleMesh("Lone")},
                                {objectNode(0, "Box", kNoParent), objectNode(1, "Box", kNoParent),
                                 objectNode(2, "Box", kNoParent)});
    ConvertedScene scene = convertBytes(file);
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(scene.root->getNumChildren(), 4);
    for (int i = 0; i < 3; ++i) {
        SoSeparator* object = childAs<SoSeparator>(scene.root, i);
        ASSERT_NE(object, nullptr);
        EXPECT_NE(childAs<SoTransform>(object, 0), nullptr) << "instance " << i;
        EXPECT_EQ(countChildren(object, SoCoordinate3::getClassTypeId()), 1);
    }
    SoSeparator* lone = childAs<SoSeparator>(scene.root, 3);
    ASSERT_NE(lone, nullptr);
    EXPECT_EQ(countChildren(lone, SoTransform::getClassTypeId()), 0);
    EXPECT_EQ(countChildren(lone, SoSeparator::getClassTypeId()), 1);
}

TEST(Converter, EveryInstanceOfAMeshGetsItsWholeGeometry) {
    // The model frees a mesh's arrays after its last instance, not its first.
    const Bytes file = model3ds({triangleMesh("Box"), meshObject("Wide", {pointArray({0, 0, 0, 2, 0, 0, 0, 2, 0, 2, 2, 0}),
                                                                        faceArray({{0, 1, 2}, {1, 3, 2}})})},
                                {objectNode(0, "Wide", kNoParent), objectNode(1, "Box", kNoParent),
                                 objectNode(2, "Wide", kNoParent), objectNode(3, "Box", kNoParent)});
    ConvertedScene scene = convertBytes(file);
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(scene.root->getNumChildren(), 4);
    for (int i = 0; i < 4; ++i) {
        SoSeparator* object = childAs<SoSeparator>(scene.root, i);
        ASSERT_NE(object, nullptr);
        const SoCoordinate3* coordinates = nullptr;
        for (int k = 0; SoNode* child = childAs<SoNode>(object, k); ++k)
            if (child->isOfType(SoCoordinate3::getClassTypeId())) coordinates = static_cast<SoCoordinate3*>(child);
        ASSERT_NE(coordinates, nullptr) << "instance " << i;
        // Box's instances first, then Wide's.
        EXPECT_EQ(coordinates->point.getNum(), i < 2 ? 3 : 4) << "instance " << i;
        if (i >= 2) {
            EXPECT_EQ(coordinates->point[3], SbVec3f(2, 2, 0)) << "instance " << i;
        }
    }
}

TEST(Converter, EveryMaterialGroupGetsAMaterialSeparatorAfterItsCoordinates) {
    const Bytes file = model3ds({material("Red"), material("Blue"),
                                 triangleMesh("Two", {materialGroup("Red", {0}), materialGroup("Blue", {0})})});
    ConvertedScene scene = convertBytes(file);
    SoSeparator* object = childAs<SoSeparator>(scene.root, 0);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(object->getNumChildren(), 4);
    for (int group = 0; group < 2; ++group) {
        EXPECT_NE(childAs<SoCoordinate3>(object, 2 * group), nullptr);
        EXPECT_NE(childAs<SoSeparator>(object, 2 * group + 1), nullptr);
    }
}

TEST(Converter, ModelWithoutMeshesGivesTheEmptyRoot) {
    ConvertedScene scene = convertBytes(model3ds({material("Unused")}));
    ASSERT_NE(scene.root, nullptr);
    EXPECT_EQ(scene.root->getNumChildren(), 0);
}

TEST(Converter, LineWidthRangeIsAskedOnceForWireMaterialsAndReachesTheScene) {
    int asked = 0;
    ConverterOptions options;
    options.lineWidths = [&asked] {
        ++asked;
        return LineWidthRange{2.0f, 8.0f};
    };
    convertBytes(model3ds({material("Solid", 1), triangleMesh("Mesh", {materialGroup("Solid", {0})})}), options);
    EXPECT_EQ(asked, 0);

    // Sizes are percentages of the widest line; a line too thin is drawn as thin as allowed.
    const Bytes wire = model3ds({material("Half", 0, {Chunk3ds(MAT_WIRESIZE).f32(50)}),
                                 material("Thin", 0, {Chunk3ds(MAT_WIRESIZE).f32(10)}),
                                 triangleMesh("Mesh", {materialGroup("Half", {0}), materialGroup("Thin", {0})})});
    const std::string model = writeScratchFile("wire.3ds", wire);
    const Conversion conversion = convert(model, options);
    EXPECT_EQ(asked, 1);
    ASSERT_NE(conversion.root(), nullptr);
    const std::vector<SoDrawStyle*> styles = nodesOf<SoDrawStyle>(conversion.root());
    ASSERT_EQ(styles.size(), 2u);
    EXPECT_EQ(styles[0]->lineWidth.getValue(), 4.0f);
    EXPECT_EQ(styles[1]->lineWidth.getValue(), 2.0f);

    // Without a range the lines keep Coin's default width.
    const Conversion unasked = convert(model);
    ASSERT_NE(unasked.root(), nullptr);
    for (SoDrawStyle* style : nodesOf<SoDrawStyle>(unasked.root())) {
        EXPECT_EQ(style->style.getValue(), SoDrawStyle::LINES);
        EXPECT_TRUE(style->lineWidth.isDefault());
    }
}
