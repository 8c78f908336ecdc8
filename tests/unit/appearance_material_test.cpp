#include <Inventor/nodes/SoDrawStyle.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoShapeHints.h>
#include <gtest/gtest.h>

#include <cstring>

#include "appearance/MaterialBuilder.h"
#include "tests/support/BuilderFixture.h"
#include "tests/support/SceneFixture.h"

using namespace kestrav;

namespace {

// A material as the reader creates it, before any property chunk.
MaterialRecord createdMaterial() {
    MaterialRecord m;
    std::memset(&m, 0, sizeof m);
    std::strcpy(m.name, "Paint");
    m.shininess = 1.0f;
    m.wireSize = 1.0f;
    m.shading = 1;
    return m;
}

class MaterialBuilderTest : public ::testing::Test {
protected:
    MaterialBuilderTest() {
        std::memset(&mesh, 0, sizeof mesh);
        mesh.materialGroupCount = 1;
        material = createdMaterial();
        fixture.setMesh(&mesh);
        fixture.setMaterial(&material);
    }

    // Runs a fresh builder into an emptied material separator.
    SoSeparator* build(int mirrored = 0) {
        fixture.materials()->removeAllChildren();
        MaterialBuilder builder(fixture.mesh, fixture.material, fixture.options.twoSided, fixture.lineWidthRange);
        builder.buildMaterial(fixture.materials(), mirrored);
        return fixture.materials();
    }
    void setTwoSidedOption() {
        ConverterOptions options;
        options.twoSided = 1;
        fixture.setOptions(options);
    }
    // The draw style of a wire material with the given size and line-width range.
    SoDrawStyle* wireStyle(float wireSize, float lineMin, float lineMax) {
        material.shading = 0;
        material.wireSize = wireSize;
        fixture.lineWidthRange[0] = lineMin;
        fixture.lineWidthRange[1] = lineMax;
        return childAs<SoDrawStyle>(build(), 1);
    }

    BuilderFixture fixture;
    MeshRecord mesh;
    MaterialRecord material;
};

void expectGreyDefault(SoSeparator* separator, int vertexOrdering, int shapeType) {
    ASSERT_EQ(separator->getNumChildren(), 2);
    SoShapeHints* hints = childAs<SoShapeHints>(separator, 0);
    SoMaterial* material = childAs<SoMaterial>(separator, 1);
    ASSERT_TRUE(hints && material);
    EXPECT_EQ(hints->vertexOrdering.getValue(), vertexOrdering);
    EXPECT_EQ(hints->shapeType.getValue(), shapeType);
    EXPECT_EQ(hints->creaseAngle.getValue(), 0.0f);
    EXPECT_TRUE(hints->faceType.isDefault());
    EXPECT_EQ(material->ambientColor[0], SbColor(0.7f, 0.7f, 0.7f));
    EXPECT_EQ(material->diffuseColor[0], SbColor(0.7f, 0.7f, 0.7f));
    EXPECT_EQ(material->specularColor[0], SbColor(1.0f, 1.0f, 1.0f));
    EXPECT_EQ(material->shininess[0], 0.5f);
    EXPECT_EQ(material->transparency[0], 0.0f);
    EXPECT_TRUE(material->emissiveColor.isDefault());
}

TEST_F(MaterialBuilderTest, MeshWithoutGroupsGetsGreyDefaultAndNoDrawStyle) {
    mesh.materialGroupCount = 0;
    material.twoSided = 1;  // not read without groups
    expectGreyDefault(build(), SoShapeHints::COUNTERCLOCKWISE, SoShapeHints::SOLID);
}

TEST_F(MaterialBuilderTest, MissingMaterialGetsGreyDefault) {
    fixture.setMaterial(nullptr);
    expectGreyDefault(build(1), SoShapeHints::CLOCKWISE, SoShapeHints::SOLID);
}

TEST_F(MaterialBuilderTest, TwoSidedOptionAppliesToDefaultMaterial) {
    mesh.materialGroupCount = 0;
    setTwoSidedOption();
    expectGreyDefault(build(), SoShapeHints::COUNTERCLOCKWISE, SoShapeHints::UNKNOWN_SHAPE_TYPE);
}

TEST_F(MaterialBuilderTest, MaterialGivesHintsThenDrawStyleThenMaterial) {
    const float ambient[3] = {0.1f, 0.2f, 0.3f};
    const float diffuse[3] = {0.5f, 0.25f, 0.75f};
    const float specular[3] = {0.9f, 0.8f, 0.7f};
    std::memcpy(material.ambient, ambient, sizeof ambient);
    std::memcpy(material.diffuse, diffuse, sizeof diffuse);
    std::memcpy(material.specular, specular, sizeof specular);
    material.shininess = 0.35f;
    material.transparency = 0.4f;
    material.selfIllumination = 0.3f;

    SoSeparator* separator = build();
    ASSERT_EQ(separator->getNumChildren(), 3);
    SoShapeHints* hints = childAs<SoShapeHints>(separator, 0);
    ASSERT_TRUE(hints);
    ASSERT_TRUE(childAs<SoDrawStyle>(separator, 1));
    SoMaterial* m = childAs<SoMaterial>(separator, 2);
    ASSERT_TRUE(m);
    EXPECT_EQ(hints->vertexOrdering.getValue(), SoShapeHints::COUNTERCLOCKWISE);
    EXPECT_EQ(hints->shapeType.getValue(), SoShapeHints::SOLID);
    EXPECT_EQ(hints->creaseAngle.getValue(), 0.0f);

    EXPECT_EQ(m->ambientColor[0], SbColor(ambient));
    EXPECT_EQ(m->diffuseColor[0], SbColor(diffuse));
    EXPECT_EQ(m->specularColor[0], SbColor(specular));
    EXPECT_EQ(m->shininess[0], 0.35f);
    EXPECT_EQ(m->transparency[0], 0.4f);
    // Each product rounded to single precision.
    EXPECT_EQ(m->emissiveColor[0], SbColor(float(0.5f * 0.3f), float(0.25f * 0.3f), float(0.75f * 0.3f)));
}

TEST_F(MaterialBuilderTest, SelfIlluminationScalesDiffuseIntoEmissive) {
    const float diffuse[3] = {0.5f, 0.25f, 0.125f};
    std::memcpy(material.diffuse, diffuse, sizeof diffuse);

    material.selfIllumination = 0.0f;
    EXPECT_EQ(childAs<SoMaterial>(build(), 2)->emissiveColor[0], SbColor(0, 0, 0));

    material.selfIllumination = 1.0f;
    EXPECT_EQ(childAs<SoMaterial>(build(), 2)->emissiveColor[0], SbColor(diffuse));
}

TEST_F(MaterialBuilderTest, NegativeTransparencyIsMadePositive) {
    material.transparency = -0.25f;
    EXPECT_EQ(childAs<SoMaterial>(build(), 2)->transparency[0], 0.25f);
}

TEST_F(MaterialBuilderTest, TwoSidedFromMaterialOrOption) {
    material.twoSided = 1;
    EXPECT_EQ(childAs<SoShapeHints>(build(), 0)->shapeType.getValue(), SoShapeHints::UNKNOWN_SHAPE_TYPE);

    material.twoSided = 0;
    setTwoSidedOption();
    EXPECT_EQ(childAs<SoShapeHints>(build(), 0)->shapeType.getValue(), SoShapeHints::UNKNOWN_SHAPE_TYPE);
}

TEST_F(MaterialBuilderTest, MirroredInstanceIsClockwise) {
    EXPECT_EQ(childAs<SoShapeHints>(build(1), 0)->vertexOrdering.getValue(), SoShapeHints::CLOCKWISE);
    EXPECT_EQ(childAs<SoShapeHints>(build(0), 0)->vertexOrdering.getValue(), SoShapeHints::COUNTERCLOCKWISE);
}

TEST_F(MaterialBuilderTest, AnyNonZeroShadingIsFilled) {
    for (int shading : {1, 2, 3, -1}) {
        material.shading = shading;
        material.wireSize = 0.0f;
        SoDrawStyle* style = childAs<SoDrawStyle>(build(), 1);
        ASSERT_TRUE(style) << shading;
        EXPECT_EQ(style->style.getValue(), SoDrawStyle::FILLED) << shading;
        EXPECT_TRUE(style->lineWidth.isDefault()) << shading;
    }
}

TEST_F(MaterialBuilderTest, WireWithZeroSizeIsInvisible) {
    SoDrawStyle* style = wireStyle(0.0f, 1.0f, 10.0f);
    ASSERT_TRUE(style);
    EXPECT_EQ(style->style.getValue(), SoDrawStyle::INVISIBLE);
    EXPECT_TRUE(style->lineWidth.isDefault());
}

TEST_F(MaterialBuilderTest, ThinWireIsRaisedToSmallestLineWidth) {
    SoDrawStyle* style = wireStyle(1.0f, 1.0f, 10.0f);
    ASSERT_TRUE(style);
    EXPECT_EQ(style->style.getValue(), SoDrawStyle::LINES);
    EXPECT_EQ(style->lineWidth.getValue(), 1.0f);
}

TEST_F(MaterialBuilderTest, WireSizeIsPercentOfLargestLineWidth) {
    SoDrawStyle* style = wireStyle(50.0f, 1.0f, 10.0f);
    ASSERT_TRUE(style);
    EXPECT_EQ(style->style.getValue(), SoDrawStyle::LINES);
    EXPECT_EQ(style->lineWidth.getValue(), 5.0f);
}

TEST_F(MaterialBuilderTest, WireWidthHasNoUpperClamp) {
    SoDrawStyle* style = wireStyle(250.0f, 1.0f, 10.0f);
    ASSERT_TRUE(style);
    EXPECT_EQ(style->lineWidth.getValue(), 25.0f);
}

TEST_F(MaterialBuilderTest, UnknownLineWidthRangeLeavesDefaultWidth) {
    SoDrawStyle* style = wireStyle(50.0f, 0.0f, 0.0f);
    ASSERT_TRUE(style);
    EXPECT_EQ(style->style.getValue(), SoDrawStyle::LINES);
    EXPECT_TRUE(style->lineWidth.isDefault());
}

}  // namespace
