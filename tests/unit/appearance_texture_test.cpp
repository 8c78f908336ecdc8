#include <Inventor/nodes/SoBumpMap.h>
#include <Inventor/nodes/SoBumpMapTransform.h>
#include <Inventor/nodes/SoTexture2.h>
#include <Inventor/nodes/SoTexture2Transform.h>
#include <Inventor/nodes/SoTextureCoordinate2.h>
#include <Inventor/nodes/SoTextureCoordinateBinding.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "appearance/TextureBuilder.h"
#include "appearance/TextureImages.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/BuilderFixture.h"
#include "tests/support/SceneFixture.h"

using namespace kestrav;

namespace {

// A map as the reader creates it; the reader sets blendMode 1 for every map.
void setCreatedMap(MapRecord& map, const char* fileName) {
    std::memset(&map, 0, sizeof map);
    std::strcpy(map.fileName, fileName);
    map.tilingMode = 1;
    map.uScale = 1.0f;
    map.vScale = 1.0f;
    map.blendMode = 1;
}

bool hasImage(const SoSFImage& image) {
    SbVec2s size;
    int components;
    return image.getValue(size, components) != nullptr && size[0] > 0 && size[1] > 0;
}

// Texture names are relative to the current directory, so every test runs in
// the scratch directory.
class TextureBuilderTest : public ::testing::Test {
protected:
    TextureBuilderTest() {
        std::memset(&mesh, 0, sizeof mesh);
        mesh.materialGroupCount = 1;
        std::memset(&material, 0, sizeof material);
        std::strcpy(material.name, "Paint");
        setCreatedMap(material.textureMap, "");
        setCreatedMap(material.bumpMap, "");
        fixture.setMesh(&mesh);
        fixture.setMaterial(&material);
    }
    void SetUp() override {
        previousDirectory = std::filesystem::current_path();
        std::filesystem::current_path(scratchDirectory());
    }
    void TearDown() override { std::filesystem::current_path(previousDirectory); }

    void writeFile(const char* name, const std::string& content = "not an image") {
        writeScratchFile(name, Bytes(content.begin(), content.end()));
    }
    void setBumpMapsOption() {
        ConverterOptions options;
        options.bumpMaps = 1;
        fixture.setOptions(options);
    }
    // Builds the textures and returns the lines the look-up reported, each
    // with its newline, as the program prints them.
    std::string buildTextures() {
        fixture.messages.clear();
        TextureBuilder(fixture.mesh, fixture.material, fixture.options.bumpMaps, *fixture.lookup)
            .buildTextures(fixture.objects(), fixture.materials());
        std::string reported;
        for (const std::string& line : fixture.messages) reported += line + '\n';
        return reported;
    }
    int materialChildren() const { return fixture.materials()->getNumChildren(); }

    BuilderFixture fixture;
    MeshRecord mesh;
    MaterialRecord material;
    std::filesystem::path previousDirectory;
};

TEST_F(TextureBuilderTest, TextureCoordinatesAndBindingGoToTheObjectSeparator) {
    float uv[6] = {0.0f, 0.0f, 1.0f, 0.5f, -0.25f, 2.0f};
    mesh.texCoordCount = 3;
    mesh.texCoords = uv;

    // A material without maps adds nothing to its separator.
    EXPECT_EQ(buildTextures(), "");
    SoSeparator* objects = fixture.objects();
    ASSERT_EQ(objects->getNumChildren(), 2);
    SoTextureCoordinate2* coordinates = childAs<SoTextureCoordinate2>(objects, 0);
    SoTextureCoordinateBinding* binding = childAs<SoTextureCoordinateBinding>(objects, 1);
    ASSERT_TRUE(coordinates && binding);
    ASSERT_EQ(coordinates->point.getNum(), 3);
    EXPECT_EQ(coordinates->point[0], SbVec2f(0.0f, 0.0f));
    EXPECT_EQ(coordinates->point[1], SbVec2f(1.0f, 0.5f));
    EXPECT_EQ(coordinates->point[2], SbVec2f(-0.25f, 2.0f));
    EXPECT_EQ(binding->value.getValue(), SoTextureCoordinateBinding::PER_VERTEX_INDEXED);
    EXPECT_EQ(materialChildren(), 0);
}

TEST_F(TextureBuilderTest, MeshWithoutTextureCoordinatesStillGetsTexture) {
    writeFile("WOOD.PNG");
    setCreatedMap(material.textureMap, "WOOD.PNG");
    EXPECT_EQ(buildTextures(), "");
    EXPECT_EQ(fixture.objects()->getNumChildren(), 0);
    ASSERT_EQ(materialChildren(), 2);
    EXPECT_TRUE(childAs<SoTexture2Transform>(fixture.materials(), 0));
    EXPECT_TRUE(childAs<SoTexture2>(fixture.materials(), 1));
}

TEST_F(TextureBuilderTest, ExistingTextureIsReferencedNotDecoded) {
    writeFile("WOOD.PNG");
    setCreatedMap(material.textureMap, "WOOD.PNG");
    material.textureMap.uOffset = 0.25f;
    material.textureMap.vOffset = -0.5f;
    material.textureMap.uScale = 2.0f;
    material.textureMap.vScale = 3.0f;

    // The file is no image: decoding it would make Coin print a warning.
    EXPECT_EQ(buildTextures(), "");
    ASSERT_EQ(materialChildren(), 2);
    SoTexture2Transform* transform = childAs<SoTexture2Transform>(fixture.materials(), 0);
    SoTexture2* texture = childAs<SoTexture2>(fixture.materials(), 1);
    ASSERT_TRUE(transform && texture);
    EXPECT_EQ(transform->translation.getValue(), SbVec2f(0.25f, -0.5f));
    EXPECT_EQ(transform->scaleFactor.getValue(), SbVec2f(2.0f, 3.0f));
    EXPECT_TRUE(transform->rotation.isDefault());
    EXPECT_TRUE(transform->center.isDefault());
    EXPECT_EQ(texture->filename.getValue(), SbString("WOOD.PNG"));
    EXPECT_FALSE(texture->filename.isDefault());
    EXPECT_EQ(texture->model.getValue(), SoTexture2::MODULATE);
    EXPECT_FALSE(hasImage(texture->image));
}

TEST_F(TextureBuilderTest, DecalWhenBlendModeIsZero) {
    writeFile("WOOD.PNG");
    setCreatedMap(material.textureMap, "WOOD.PNG");
    material.textureMap.blendMode = 0;
    buildTextures();
    SoTexture2* texture = childAs<SoTexture2>(fixture.materials(), 1);
    ASSERT_TRUE(texture);
    EXPECT_EQ(texture->model.getValue(), SoTexture2::DECAL);
}

TEST_F(TextureBuilderTest, MissingTextureIsReportedAndSkipped) {
    setCreatedMap(material.textureMap, "GONE.PNG");
    EXPECT_EQ(buildTextures(), "Cannot find texture file \"GONE.PNG\".\n");
    ASSERT_EQ(materialChildren(), 1);
    EXPECT_TRUE(childAs<SoTexture2Transform>(fixture.materials(), 0));
}

TEST_F(TextureBuilderTest, MapWithoutScaleOrOffsetGetsIdentityTransform) {
    writeFile("BUMP.PNG");
    setCreatedMap(material.textureMap, "GONE.PNG");
    setCreatedMap(material.bumpMap, "BUMP.PNG");
    setBumpMapsOption();
    buildTextures();
    SoTexture2Transform* transform = childAs<SoTexture2Transform>(fixture.materials(), 0);
    SoBumpMapTransform* bumpTransform = childAs<SoBumpMapTransform>(fixture.materials(), 1);
    ASSERT_TRUE(transform && bumpTransform);
    EXPECT_EQ(transform->translation.getValue(), SbVec2f(0.0f, 0.0f));
    EXPECT_EQ(transform->scaleFactor.getValue(), SbVec2f(1.0f, 1.0f));
    EXPECT_EQ(bumpTransform->translation.getValue(), SbVec2f(0.0f, 0.0f));
    EXPECT_EQ(bumpTransform->scaleFactor.getValue(), SbVec2f(1.0f, 1.0f));
}

TEST_F(TextureBuilderTest, BumpMapWithoutOptionGetsNoNodeAndNoMessage) {
    setCreatedMap(material.bumpMap, "GONE.PNG");
    EXPECT_EQ(buildTextures(), "");
    EXPECT_EQ(materialChildren(), 0);
}

TEST_F(TextureBuilderTest, BumpMapTransformTakesTheMapsOffsetAndScale) {
    writeFile("BUMP.PNG");
    setCreatedMap(material.bumpMap, "BUMP.PNG");
    material.bumpMap.uOffset = 0.5f;
    material.bumpMap.vScale = 4.0f;
    setBumpMapsOption();
    buildTextures();
    SoBumpMapTransform* transform = childAs<SoBumpMapTransform>(fixture.materials(), 0);
    ASSERT_TRUE(transform);
    EXPECT_EQ(transform->translation.getValue(), SbVec2f(0.5f, 0.0f));
    EXPECT_EQ(transform->scaleFactor.getValue(), SbVec2f(1.0f, 4.0f));
    EXPECT_TRUE(transform->rotation.isDefault());
    EXPECT_TRUE(transform->center.isDefault());
}

TEST_F(TextureBuilderTest, BumpMapOptionAddsBumpMapAfterTexture) {
    writeFile("WOOD.PNG");
    writeFile("BUMP.PNG");
    setCreatedMap(material.textureMap, "WOOD.PNG");
    setCreatedMap(material.bumpMap, "BUMP.PNG");
    setBumpMapsOption();
    EXPECT_EQ(buildTextures(), "");
    SoSeparator* materials = fixture.materials();
    ASSERT_EQ(materialChildren(), 4);
    EXPECT_TRUE(childAs<SoTexture2Transform>(materials, 0));
    EXPECT_TRUE(childAs<SoBumpMapTransform>(materials, 1));
    EXPECT_TRUE(childAs<SoTexture2>(materials, 2));
    SoBumpMap* bump = childAs<SoBumpMap>(materials, 3);
    ASSERT_TRUE(bump);
    EXPECT_EQ(bump->filename.getValue(), SbString("BUMP.PNG"));
    EXPECT_FALSE(hasImage(bump->image));
}

TEST_F(TextureBuilderTest, MissingBumpMapWithOptionIsReported) {
    setCreatedMap(material.bumpMap, "NOBUMP.PNG");
    setBumpMapsOption();
    EXPECT_EQ(buildTextures(), "Cannot find texture file \"NOBUMP.PNG\".\n");
    // Other Inventor readers stop at a BumpMapTransform, so it comes only with its image.
    EXPECT_EQ(materialChildren(), 0);
}

TEST_F(TextureBuilderTest, ImagesFoundBesideTheModelAreNamedAsTheSceneReachesThem) {
    std::filesystem::create_directories("beside-model");
    writeFile("beside-model/plank.png");
    ConverterOptions options;
    options.bumpMaps = 1;
    options.inputPath = "beside-model/model.3ds";
    fixture.setOptions(options);
    setCreatedMap(material.textureMap, "PLANK.PNG");
    setCreatedMap(material.bumpMap, "PLANK.PNG");
    EXPECT_EQ(buildTextures(), "Using \"beside-model/plank.png\" for texture file \"PLANK.PNG\".\n");
    SoTexture2* texture = childAs<SoTexture2>(fixture.materials(), 2);
    SoBumpMap* bump = childAs<SoBumpMap>(fixture.materials(), 3);
    ASSERT_TRUE(texture && bump);
    EXPECT_EQ(texture->filename.getValue(), SbString("beside-model/plank.png"));
    EXPECT_EQ(bump->filename.getValue(), SbString("beside-model/plank.png"));
    // The next group of the same conversion says it no more.
    EXPECT_EQ(buildTextures(), "");
    EXPECT_EQ(materialChildren(), 8);
}

TEST_F(TextureBuilderTest, LoadTextureImagesReadsReferencedImages) {
    ASSERT_TRUE(corpusIsThere());
    std::filesystem::copy_file(corpusPath("test.png"), "TEST.PNG",
                               std::filesystem::copy_options::overwrite_existing);
    setCreatedMap(material.textureMap, "TEST.PNG");
    setCreatedMap(material.bumpMap, "TEST.PNG");
    setBumpMapsOption();
    EXPECT_EQ(buildTextures(), "");
    SoTexture2* texture = childAs<SoTexture2>(fixture.materials(), 2);
    SoBumpMap* bump = childAs<SoBumpMap>(fixture.materials(), 3);
    ASSERT_TRUE(texture && bump);
    EXPECT_FALSE(hasImage(texture->image));
    EXPECT_FALSE(hasImage(bump->image));

    loadTextureImages(fixture.materials(), "");
    SbVec2s size;
    int components = 0;
    EXPECT_TRUE(texture->image.getValue(size, components));
    EXPECT_EQ(size, SbVec2s(512, 512));
    EXPECT_EQ(components, 3);
    EXPECT_TRUE(hasImage(bump->image));
    // Still only referenced by name when written.
    EXPECT_TRUE(texture->image.isDefault());
}

}  // namespace
