// Damaged models through the whole converter: a chunk damaged inside costs
// only itself, and no number that Coin cannot read back reaches the scene.

#include <Inventor/SbRotation.h>
#include <Inventor/fields/SoMFColor.h>
#include <Inventor/fields/SoMFVec3f.h>
#include <Inventor/fields/SoSFFloat.h>
#include <Inventor/fields/SoSFMatrix.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoDrawStyle.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTextureCoordinate2.h>
#include <Inventor/nodes/SoTransform.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/FiniteFields.h"
#include "tests/support/SceneFixture.h"
#include "tests/support/DamagedModels.h"

using namespace kestrav;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const char* const kSkippedWarning = "\" is damaged; damaged chunks were skipped and the rest was converted.\n";

// The faces drawn under a node, three indices each.
std::vector<std::vector<int>> facesUnder(SoNode* node) {
    std::vector<std::vector<int>> faces;
    for (SoIndexedFaceSet* set : nodesOf<SoIndexedFaceSet>(node))
        for (int i = 0; i + 3 < set->coordIndex.getNum(); i += 4)
            faces.push_back({set->coordIndex[i], set->coordIndex[i + 1], set->coordIndex[i + 2]});
    return faces;
}

int pointsOf(SoSeparator* object) {
    const std::vector<SoCoordinate3*> coordinates = nodesOf<SoCoordinate3>(object);
    return coordinates.empty() ? -1 : coordinates[0]->point.getNum();
}

// Material separators of an object: its direct children that are separators.
int materialSeparators(SoSeparator* object) {
    int count = 0;
    for (int i = 0; SoNode* child = childAs<SoNode>(object, i); ++i)
        count += child->isOfType(SoSeparator::getClassTypeId()) ? 1 : 0;
    return count;
}

struct WarnedScene {
    ConvertedScene scene;
    std::string messages;
};

WarnedScene convertCapturing(const Bytes& file) {
    WarnedScene out{convertBytes(file), ""};
    out.messages = joinedLines(out.scene.messages);
    return out;
}

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

TEST(DamagedScene, EachConvertsAsTheModelWithoutItsDamageWithOneWarning) {
    for (const DamagedModel& model : locallyDamagedModels()) {
        SCOPED_TRACE(model.name);
        const WarnedScene damaged = convertCapturing(model.write(true));
        const WarnedScene sound = convertCapturing(model.write(false));
        ASSERT_NE(damaged.scene.root, nullptr) << damaged.scene.text;
        ASSERT_NE(sound.scene.root, nullptr);
        EXPECT_GT(damaged.scene.root->getNumChildren(), 1);
        EXPECT_EQ(damaged.scene.text, sound.scene.text);
        EXPECT_EQ(sound.messages, "");
        EXPECT_EQ(damaged.messages.rfind("Warning: \"", 0), 0u) << damaged.messages;
        EXPECT_TRUE(endsWith(damaged.messages, kSkippedWarning)) << damaged.messages;
        EXPECT_EQ(damaged.messages.find('\n'), damaged.messages.size() - 1) << damaged.messages;
    }
}

TEST(DamagedScene, EightMeshesWithSevenPointFlagsKeepTheirFacesAndTextureCoordinates) {
    const ConvertedScene scene = convertBytes(sevenPointFlagsModel());
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(scene.root->getNumChildren(), 8);
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        SoSeparator* object = childAs<SoSeparator>(scene.root, i);
        EXPECT_EQ(pointsOf(object), 4);
        const std::vector<SoTextureCoordinate2*> uv = nodesOf<SoTextureCoordinate2>(object);
        ASSERT_EQ(uv.size(), 1u);
        EXPECT_EQ(uv[0]->point.getNum(), 4);
        EXPECT_EQ(facesUnder(object), (std::vector<std::vector<int>>{{0, 1, 2}, {0, 2, 3}}));
    }
}

TEST(DamagedScene, VerticesPastTheirChunkLeaveTheMeshWithoutVerticesOrFaces) {
    const ConvertedScene scene = convertBytes(pointCountPastChunkModel());
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(scene.root->getNumChildren(), 2);
    SoSeparator* shortMesh = childAs<SoSeparator>(scene.root, 0);
    EXPECT_EQ(pointsOf(shortMesh), 0);
    EXPECT_TRUE(facesUnder(shortMesh).empty());
    SoSeparator* whole = childAs<SoSeparator>(scene.root, 1);
    EXPECT_EQ(pointsOf(whole), 4);
    EXPECT_EQ(facesUnder(whole).size(), 2u);
}

TEST(DamagedScene, MaterialGroupPastItsChunkIsLeftOutAndTheOthersDrawn) {
    const ConvertedScene scene = convertBytes(materialGroupCountPastChunkModel());
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(scene.root->getNumChildren(), 2);
    SoSeparator* split = childAs<SoSeparator>(scene.root, 0);
    EXPECT_EQ(materialSeparators(split), 1);
    EXPECT_EQ(facesUnder(split), (std::vector<std::vector<int>>{{0, 1, 2}}));
    EXPECT_EQ(facesUnder(childAs<SoSeparator>(scene.root, 1)).size(), 2u);
}

TEST(DamagedScene, FacesPastTheirChunkAreSkippedWithTheirGroups) {
    const ConvertedScene scene = convertBytes(facesPastChunkModel());
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(scene.root->getNumChildren(), 2);
    SoSeparator* broken = childAs<SoSeparator>(scene.root, 0);
    // The first face array and its group stay; the Blue group went with the damaged one.
    EXPECT_EQ(materialSeparators(broken), 1);
    EXPECT_EQ(facesUnder(broken), (std::vector<std::vector<int>>{{0, 1, 2}, {0, 2, 3}}));
    const std::vector<SoMaterial*> materials = nodesOf<SoMaterial>(broken);
    ASSERT_EQ(materials.size(), 1u);
    EXPECT_EQ(materials[0]->diffuseColor[0], SbColor(200 / 256.0f, 0, 0));
    // The chunk after the damaged one is read into the same mesh.
    EXPECT_EQ(nodesOf<SoTextureCoordinate2>(broken).size(), 1u);
}

TEST(DamagedScene, RotationKeysPastTheirChunkLeaveTheDefaultRotation) {
    const ConvertedScene scene = convertBytes(rotationSplinesPastChunkModel());
    ASSERT_NE(scene.root, nullptr);
    ASSERT_EQ(scene.root->getNumChildren(), 2);
    SoSeparator* box = childAs<SoSeparator>(scene.root, 0);
    bool translated = false, scaled = false;
    for (SoTransform* t : nodesOf<SoTransform>(box)) {
        EXPECT_TRUE(t->rotation.getValue().equals(SbRotation::identity(), 1e-6f));
        translated = translated || t->translation.getValue() == SbVec3f(1, 2, 3);
        scaled = scaled || t->scaleFactor.getValue() == SbVec3f(2, 2, 2);
    }
    EXPECT_TRUE(translated);
    EXPECT_TRUE(scaled);
    EXPECT_EQ(facesUnder(box).size(), 2u);
}

TEST(DamagedScene, VertexThatIsNotFiniteIsTheOriginAndItsFacesAreLeftOut) {
    const WarnedScene converted = convertCapturing(nonFiniteModel());
    const ConvertedScene& scene = converted.scene;
    ASSERT_NE(scene.root, nullptr) << scene.text;
    EXPECT_TRUE(endsWith(converted.messages, kSkippedWarning));
    EXPECT_EQ(scene.text.find("nan"), std::string::npos);
    EXPECT_EQ(scene.text.find("inf"), std::string::npos);
    ASSERT_EQ(scene.root->getNumChildren(), 2);
    SoSeparator* spiky = childAs<SoSeparator>(scene.root, 0);
    const std::vector<SoCoordinate3*> coordinates = nodesOf<SoCoordinate3>(spiky);
    ASSERT_EQ(coordinates.size(), 1u);
    ASSERT_EQ(coordinates[0]->point.getNum(), 5);
    EXPECT_EQ(coordinates[0]->point[4], SbVec3f(0, 0, 0));
    EXPECT_EQ(coordinates[0]->point[2], SbVec3f(1, 1, 0));
    EXPECT_EQ(facesUnder(spiky), (std::vector<std::vector<int>>{{0, 1, 2}, {0, 2, 3}}));
    // The frame with an infinite origin and the pivot that is not a number count as absent.
    for (SoTransform* t : nodesOf<SoTransform>(spiky)) {
        EXPECT_EQ(t->center.getValue(), SbVec3f(0, 0, 0));
        EXPECT_EQ(t->translation.getValue(), SbVec3f(0, 0, 0));
    }
    EXPECT_EQ(facesUnder(childAs<SoSeparator>(scene.root, 1)).size(), 2u);
}

// Finite values so large that what is made of them overflows a float: corners
// whose edges and normals overflow, a wire size past any line width, map
// parameters, and keys, pivot and frame whose composition overflows.
TEST(DamagedScene, HugeFiniteValuesStillGiveAReadableScene) {
    const float big = 3e38f;
    Chunk3ds map = mapChunk(MAT_TEXMAP, "HUGE.PNG");
    map.add({Chunk3ds(MAT_MAP_USCALE).f32(big), Chunk3ds(MAT_MAP_UOFFSET).f32(-big)});
    const std::vector<float> far = {-big, -big, 0, big, -big, 0, 0, big, 0, 0, 0, big, 1e-30f, 0, 0, 0, 1e-30f, 0};
    const Chunk3ds faces = faceArray({{0, 1, 2}, {0, 1, 3}, {1, 2, 3}, {4, 5, 3}},
                                     {materialGroup("Wire", {0, 1}), materialGroup("Flat", {2, 3}),
                                      smoothGroup({1, 1, 1, 2})});
    const Bytes file = model3ds(
        {material("Wire", 0, {Chunk3ds(MAT_WIRESIZE).f32(big)}), material("Flat", 3, {map}),
         meshObject("Far", {pointArray(far), meshMatrix({big, 0, 0, 0, big, 0, 0, 0, big, -big, big, 0}), faces})},
        {objectNode(0, "Parent", kNoParent,
                    {track(POS_TRACK_TAG, {{big, -big, big}}), track(ROT_TRACK_TAG, {{big, big, big, 0}}),
                     track(SCL_TRACK_TAG, {{big, big, big}})}),
         objectNode(1, "Far", 0,
                    {Chunk3ds(PIVOT).floats({-big, big, -big}), track(POS_TRACK_TAG, {{big, big, big}}),
                     track(ROT_TRACK_TAG, {{1, big, -big, big}}), track(SCL_TRACK_TAG, {{big, -big, big}})})});
    for (int flat = 0; flat < 2; ++flat) {
        SCOPED_TRACE(flat);
        ConverterOptions options;
        options.flatShading = flat;
        const ConvertedScene scene = convertBytes(file, options, 1.0f, 255.0f);
        const std::string messages = joinedLines(scene.messages);
        ASSERT_NE(scene.root, nullptr) << scene.text;
        EXPECT_EQ(messages.find("is damaged"), std::string::npos);
        for (SoNormal* normal : nodesOf<SoNormal>(scene.root))
            for (int i = 0; i < normal->vector.getNum(); ++i)
                EXPECT_NEAR(normal->vector[i].length(), 1.0f, 1e-5f) << i;
        const std::vector<SoDrawStyle*> styles = nodesOf<SoDrawStyle>(scene.root);
        ASSERT_FALSE(styles.empty());
        EXPECT_EQ(styles[0]->lineWidth.getValue(), 255.0f);
        EXPECT_EQ(facesUnder(scene.root).size(), 4u);
    }
}

// Inputs the fuzzers found, each named after what it broke, through the whole
// converter, plain and with cameras, lights and animation: each gives a scene
// Coin reads back, with only finite numbers in it.
TEST(DamagedScene, FuzzRegressionsConvertToScenesCoinReads) {
    const std::filesystem::path folder = std::filesystem::path(KESTRAV_REGRESSIONS);
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    int converted = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".3ds") continue;
        for (const bool everything : {false, true}) {
            SCOPED_TRACE(entry.path().filename().string() + (everything ? " -l -a" : ""));
            ConverterOptions options;
            options.lights = options.animation = everything;
            options.outputPath = scratchDirectory() + "/" + entry.path().filename().string() + ".iv";
            const ConvertedScene scene = convertFile(entry.path().string(), options);
            ASSERT_NE(scene.root, nullptr);
            SoNode* owner = nullptr;
            const SoField* field = findNonFiniteField(scene.root, &owner);
            EXPECT_EQ(field, nullptr) << (owner ? owner->getTypeId().getName().getString() : "");
        }
        ++converted;
    }
    EXPECT_GT(converted, 0);
}

TEST(FiniteFields, EveryKindOfFloatFieldIsChecked) {
    SoSFFloat single;
    EXPECT_TRUE(holdsOnlyFiniteValues(single));
    single.setValue(-kInf);
    EXPECT_FALSE(holdsOnlyFiniteValues(single));

    SoMFVec3f points;
    points.setValues(0, 3, (const float[][3]){{0, 0, 0}, {1, 1, 1}, {2, kNan, 2}});
    EXPECT_FALSE(holdsOnlyFiniteValues(points));
    points.setNum(2);
    EXPECT_TRUE(holdsOnlyFiniteValues(points));

    SoMFColor colours;
    colours.setValue(SbColor(0.5f, kInf, 0));
    EXPECT_FALSE(holdsOnlyFiniteValues(colours));

    SoSFMatrix matrix;
    SbMatrix m = SbMatrix::identity();
    m[3][1] = kNan;
    matrix.setValue(m);
    EXPECT_FALSE(holdsOnlyFiniteValues(matrix));
}

TEST(FiniteFields, TheFirstFieldNotFiniteIsFoundWithItsNode) {
    SoSeparator* root = new SoSeparator;
    root->ref();
    SoSeparator* inner = new SoSeparator;
    root->addChild(inner);
    SoTransform* transform = new SoTransform;
    inner->addChild(transform);
    transform->translation.setValue(kInf, 0, 0);
    transform->rotation.setValue(kNan, 0, 0, 1);
    transform->center.setValue(1, 2, 3);

    SoNode* owner = nullptr;
    EXPECT_EQ(findNonFiniteField(root, &owner), &transform->translation);
    EXPECT_EQ(owner, transform);
    transform->translation.setValue(0, 0, 0);
    EXPECT_EQ(findNonFiniteField(root), &transform->rotation);
    transform->rotation.setValue(SbRotation::identity());
    EXPECT_EQ(findNonFiniteField(root), nullptr);
    root->unref();
}

}  // namespace
