#include <Inventor/SoPath.h>
#include <Inventor/nodes/SoBumpMap.h>
#include <Inventor/nodes/SoBumpMapTransform.h>
#include <Inventor/nodes/SoDrawStyle.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoShapeHints.h>
#include <Inventor/nodes/SoTexture2.h>
#include <Inventor/nodes/SoTexture2Transform.h>
#include <Inventor/nodes/SoTextureCoordinate2.h>
#include <Inventor/nodes/SoTextureCoordinateBinding.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/SceneConverter.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

// Index of the first child of type T at or after index from; -1 when none.
template <class T>
int indexOf(SoNode* group, int from = 0) {
    SoGroup* g = static_cast<SoGroup*>(group);
    for (int i = from; i < g->getNumChildren(); ++i)
        if (g->getChild(i)->isOfType(T::getClassTypeId())) return i;
    return -1;
}

int textureNodeCount(SoNode* root) {
    return int(nodesOf<SoTextureCoordinate2>(root).size() + nodesOf<SoTextureCoordinateBinding>(root).size() +
               nodesOf<SoTexture2Transform>(root).size() + nodesOf<SoTexture2>(root).size() +
               nodesOf<SoBumpMapTransform>(root).size() + nodesOf<SoBumpMap>(root).size());
}

// The separators directly under a group, in order.
std::vector<SoSeparator*> separatorsOf(SoNode* group) {
    std::vector<SoSeparator*> found;
    for (int i = indexOf<SoSeparator>(group); i >= 0; i = indexOf<SoSeparator>(group, i + 1))
        found.push_back(childAs<SoSeparator>(group, i));
    return found;
}

Chunk3ds texturedMaterial(const char* name, const char* textureName = nullptr, const char* bumpName = nullptr) {
    Chunk3ds entry = material(name, -1, {colour(MAT_DIFFUSE, 128, 64, 32)});
    if (textureName) entry.add(mapChunk(MAT_TEXMAP, textureName));
    if (bumpName) entry.add(mapChunk(MAT_BUMPMAP, bumpName, 50));
    return entry;
}

// A textured quad of three faces, face i in the material group named groups[i].
Chunk3ds texturedMesh(std::initializer_list<const char*> groups) {
    Chunk3ds faces(FACE_ARRAY);
    faces.u16(3).u16(0).u16(1).u16(2).u16(0).u16(0).u16(2).u16(3).u16(0).u16(1).u16(3).u16(2).u16(0);
    uint16_t face = 0;
    for (const char* group : groups) faces.add(Chunk3ds(MSH_MAT_GROUP).name(group).u16(1).u16(face++));
    Chunk3ds mesh(N_TRI_OBJECT);
    mesh.add(Chunk3ds(POINT_ARRAY).u16(4).floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    mesh.add(Chunk3ds(TEX_VERTS).u16(4).floats({0, 0, 1, 0, 1, 1, 0, 1}));
    mesh.add(faces);
    return Chunk3ds(NAMED_OBJECT).name("Quad").add(mesh);
}

// Every test works in a directory of its own, since texture names are
// relative to the current directory.
class TexturedSceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory = fs::current_path();
        const fs::path directory = fs::path(scratchDirectory()) / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(directory);
        fs::current_path(directory);
    }
    void TearDown() override { fs::current_path(previousDirectory); }

    static void copyFromCorpus(const char* name, const char* as) {
        ASSERT_TRUE(corpusIsThere());
        fs::copy_file(corpusPath(name), as, fs::copy_options::overwrite_existing);
    }
    // Converts and keeps what reached standard error while converting. The
    // scene is written here, so it names images found here as the model does.
    ConvertedScene convert(const Bytes& model, ConverterOptions options = ConverterOptions()) {
        options.outputPath = (fs::current_path() / ("scene" + std::to_string(++conversions) + ".iv")).string();
        ConvertedScene scene = convertBytes(model, options);
        errors = joinedLines(scene.messages);
        return scene;
    }
    // The scene has no root when the model could not be copied.
    ConvertedScene convertCorpusCube() {
        copyFromCorpus("cube_with_diffuse_texture.3DS", "cube.3ds");
        if (testing::Test::HasFatalFailure()) return ConvertedScene();
        ConvertedScene scene = convertFile((fs::current_path() / "cube.3ds").string());
        errors = joinedLines(scene.messages);
        return scene;
    }

    std::string errors;
    int conversions = 0;

    fs::path previousDirectory;
};

TEST_F(TexturedSceneTest, CorpusCubeHasItsTextureAfterTheMaterial) {
    ASSERT_NO_FATAL_FAILURE(copyFromCorpus("test.png", "TEST.PNG"));
    ConvertedScene scene = convertCorpusCube();
    EXPECT_EQ(errors, "");
    ASSERT_TRUE(scene.root);
    ASSERT_EQ(scene.root->getNumChildren(), 1);
    SoSeparator* object = childAs<SoSeparator>(scene.root, 0);
    ASSERT_TRUE(object);

    const std::vector<SoSeparator*> groups = separatorsOf(object);
    ASSERT_EQ(groups.size(), 1u);
    SoSeparator* group = groups[0];
    const int groupIndex = object->findChild(group);
    const int coordinates = indexOf<SoTextureCoordinate2>(object);
    ASSERT_GE(coordinates, 0);
    EXPECT_EQ(indexOf<SoTextureCoordinateBinding>(object), coordinates + 1);
    EXPECT_LT(coordinates + 1, groupIndex);
    EXPECT_GT(childAs<SoTextureCoordinate2>(object, coordinates)->point.getNum(), 0);
    EXPECT_EQ(childAs<SoTextureCoordinateBinding>(object, coordinates + 1)->value.getValue(),
              SoTextureCoordinateBinding::PER_VERTEX_INDEXED);

    ASSERT_GE(group->getNumChildren(), 5);
    EXPECT_TRUE(childAs<SoShapeHints>(group, 0));
    EXPECT_TRUE(childAs<SoDrawStyle>(group, 1));
    EXPECT_TRUE(childAs<SoMaterial>(group, 2));
    SoTexture2Transform* transform = childAs<SoTexture2Transform>(group, 3);
    SoTexture2* texture = childAs<SoTexture2>(group, 4);
    ASSERT_TRUE(transform && texture);
    EXPECT_EQ(texture->filename.getValue(), SbString("TEST.PNG"));
    EXPECT_EQ(texture->model.getValue(), SoTexture2::MODULATE);
    EXPECT_TRUE(transform->rotation.isDefault());
    EXPECT_TRUE(transform->center.isDefault());
    // The written scene names the image; reading it back loads the image.
    EXPECT_TRUE(texture->image.isDefault());
    SbVec2s size;
    int components = 0;
    EXPECT_TRUE(texture->image.getValue(size, components));
    EXPECT_EQ(size, SbVec2s(512, 512));
}

TEST_F(TexturedSceneTest, CorpusCubeWithoutItsImageReportsItAndGoesOn) {
    ConvertedScene scene = convertCorpusCube();
    EXPECT_EQ(errors, "Cannot find texture file \"TEST.PNG\".\n");
    ASSERT_TRUE(scene.root);
    SoSeparator* object = childAs<SoSeparator>(scene.root, 0);
    ASSERT_TRUE(object);
    const std::vector<SoSeparator*> groups = separatorsOf(object);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(indexOf<SoTexture2Transform>(groups[0]), 3);
    EXPECT_EQ(indexOf<SoTexture2>(groups[0]), -1);
    EXPECT_GE(indexOf<SoTextureCoordinate2>(object), 0);
}

TEST_F(TexturedSceneTest, ConvertingDoesNotDecodeImages) {
    // A file that opens but is no image: Coin would complain if it decoded it.
    writeScratchFile(std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "/TEST.PNG",
                     Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'});
    ASSERT_NO_FATAL_FAILURE(copyFromCorpus("cube_with_diffuse_texture.3DS", "cube.3ds"));
    ConverterOptions options;
    options.outputPath = (fs::current_path() / "cube.iv").string();
    const ConvertedScene scene = convertFile((fs::current_path() / "cube.3ds").string(), options);
    EXPECT_TRUE(scene.messages.empty());
    EXPECT_NE(scene.text.find("filename \"TEST.PNG\""), std::string::npos);
}

TEST_F(TexturedSceneTest, LongImageNameFoundBesideTheModelOnceForTheWholeModel) {
    fs::create_directories("models");
    ASSERT_NO_FATAL_FAILURE(copyFromCorpus("test.png", "models/caldarifighter_tex_d.png"));
    const std::string here = testing::UnitTest::GetInstance()->current_test_info()->name();
    const std::string model = writeScratchFile(
        here + "/models/fighter.3ds", model3ds({texturedMaterial("Hull", "CALDARIFIGHTER_TEX_D.PNG"),
                                               texturedMaterial("Deck", "CALDARIFIGHTER_TEX_D.PNG"),
                                               texturedMesh({"Hull", "Deck", "Hull"})}));
    ConverterOptions options;
    options.outputPath = (fs::current_path() / "fighter.iv").string();
    ConvertedScene scene = convertFile(model, options);
    errors = joinedLines(scene.messages);
    EXPECT_EQ(errors, "Using \"models/caldarifighter_tex_d.png\" for texture file \"CALDARIFIGHTER_TEX_D.PNG\".\n");
    ASSERT_TRUE(scene.root);
    ASSERT_EQ(int(nodesOf<SoTexture2>(scene.root).size()), 3);
    SoSeparator* group = separatorsOf(childAs<SoSeparator>(scene.root, 0)).at(0);
    SoTexture2* texture = childAs<SoTexture2>(group, indexOf<SoTexture2>(group));
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->filename.getValue(), SbString("models/caldarifighter_tex_d.png"));
    SbVec2s size;
    int components = 0;
    EXPECT_TRUE(texture->image.getValue(size, components));
    EXPECT_EQ(size, SbVec2s(512, 512));
}

TEST_F(TexturedSceneTest, EachMaterialGroupAddsItsTextureCoordinatePair) {
    ConvertedScene scene =
        convert(model3ds({texturedMaterial("Red"), texturedMaterial("Green"), texturedMaterial("Blue"), texturedMesh({"Red", "Green", "Blue"})}));
    EXPECT_EQ(errors, "");
    ASSERT_TRUE(scene.root);
    SoSeparator* object = childAs<SoSeparator>(scene.root, 0);
    ASSERT_TRUE(object);
    std::string order;
    for (int i = 0; i < object->getNumChildren(); ++i) {
        SoNode* child = object->getChild(i);
        if (child->isOfType(SoTextureCoordinate2::getClassTypeId())) {
            order += 'T';
            EXPECT_EQ(static_cast<SoTextureCoordinate2*>(child)->point.getNum(), 4);
        } else if (child->isOfType(SoTextureCoordinateBinding::getClassTypeId())) {
            order += 'B';
        } else if (child->isOfType(SoSeparator::getClassTypeId())) {
            order += 'S';
        }
    }
    EXPECT_EQ(order, "TBSTBSTBS");
}

TEST_F(TexturedSceneTest, NoTexturesOptionLeavesNoTextureNodes) {
    ASSERT_NO_FATAL_FAILURE(copyFromCorpus("test.png", "WOOD.PNG"));
    ConverterOptions options;
    options.noTextures = 1;
    options.bumpMaps = 1;
    // GONE.PNG is missing, but without textures nothing looks for it.
    ConvertedScene scene =
        convert(model3ds({texturedMaterial("Wood", "WOOD.PNG", "GONE.PNG"), texturedMesh({"Wood", "Wood"})}), options);
    EXPECT_EQ(errors, "");
    ASSERT_TRUE(scene.root);
    EXPECT_EQ(int(nodesOf<SoMaterial>(scene.root).size()), 2);
    EXPECT_EQ(textureNodeCount(scene.root), 0);
}

TEST_F(TexturedSceneTest, BumpMapOptionReachesTheTextureBuilder) {
    ASSERT_NO_FATAL_FAILURE(copyFromCorpus("test.png", "WOOD.PNG"));
    ASSERT_NO_FATAL_FAILURE(copyFromCorpus("test.png", "BUMP.PNG"));
    const Bytes model = model3ds({texturedMaterial("Wood", "WOOD.PNG", "BUMP.PNG"), texturedMesh({"Wood"})});

    ConvertedScene plain = convert(model);
    EXPECT_EQ(errors, "");
    ASSERT_TRUE(plain.root);
    EXPECT_EQ(int(nodesOf<SoBumpMapTransform>(plain.root).size()), 0);
    EXPECT_EQ(int(nodesOf<SoBumpMap>(plain.root).size()), 0);

    ConverterOptions options;
    options.bumpMaps = 1;
    ConvertedScene bumped = convert(model, options);
    EXPECT_EQ(errors, "");
    ASSERT_TRUE(bumped.root);
    SoSeparator* group = separatorsOf(childAs<SoSeparator>(bumped.root, 0)).at(0);
    EXPECT_EQ(indexOf<SoTexture2Transform>(group), 3);
    EXPECT_EQ(indexOf<SoBumpMapTransform>(group), 4);
    EXPECT_EQ(indexOf<SoTexture2>(group), 5);
    SoBumpMap* bump = childAs<SoBumpMap>(group, 6);
    ASSERT_TRUE(bump);
    EXPECT_EQ(bump->filename.getValue(), SbString("BUMP.PNG"));
}

TEST_F(TexturedSceneTest, MissingMaterialLooksLikeMeshWithoutMaterials) {
    ConvertedScene scene = convert(model3ds({texturedMaterial("Wood", "WOOD.PNG"), texturedMesh({"Nowhere"})}));
    EXPECT_EQ(errors, "");
    ASSERT_TRUE(scene.root);
    SoSeparator* object = childAs<SoSeparator>(scene.root, 0);
    ASSERT_TRUE(object);
    EXPECT_EQ(textureNodeCount(scene.root), 0);
    const std::vector<SoSeparator*> groups = separatorsOf(object);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_TRUE(childAs<SoShapeHints>(groups[0], 0));
    SoMaterial* grey = childAs<SoMaterial>(groups[0], 1);
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->diffuseColor[0], SbColor(0.7f, 0.7f, 0.7f));
    EXPECT_EQ(int(nodesOf<SoDrawStyle>(scene.root).size()), 0);
}

TEST_F(TexturedSceneTest, TwoSidedOptionReachesTheMaterialBuilder) {
    const Bytes model = model3ds({texturedMaterial("Wood"), texturedMesh({"Wood"})});
    ConvertedScene oneSided = convert(model);
    ASSERT_TRUE(oneSided.root);
    SoShapeHints* hints = childAs<SoShapeHints>(separatorsOf(childAs<SoSeparator>(oneSided.root, 0)).at(0), 0);
    ASSERT_TRUE(hints);
    EXPECT_EQ(hints->shapeType.getValue(), SoShapeHints::SOLID);

    ConverterOptions options;
    options.twoSided = 1;
    ConvertedScene twoSided = convert(model, options);
    ASSERT_TRUE(twoSided.root);
    hints = childAs<SoShapeHints>(separatorsOf(childAs<SoSeparator>(twoSided.root, 0)).at(0), 0);
    ASSERT_TRUE(hints);
    EXPECT_EQ(hints->shapeType.getValue(), SoShapeHints::UNKNOWN_SHAPE_TYPE);
}

}  // namespace
