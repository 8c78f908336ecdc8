// The flat chunk walk over well-formed files: which chunks it reaches, the
// state it carries from chunk to chunk, and how it converts the values.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "reader/ModelDatabase.h"
#include "reader/ModelLists.h"
#include "tests/support/ModelReadTest.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

using ReaderWalk = ModelReadTest;

Chunk3ds triMesh(std::initializer_list<Chunk3ds> children = {}) { return Chunk3ds(N_TRI_OBJECT).add(children); }

Chunk3ds byteColour(uint8_t r, uint8_t g, uint8_t b, uint16_t id = COLOR_24) {
    return Chunk3ds(id).u8(r).u8(g).u8(b);
}

Chunk3ds floatColour(float r, float g, float b, uint16_t id = COLOR_F) {
    return Chunk3ds(id).floats({r, g, b});
}

Chunk3ds percentage(int16_t p) { return Chunk3ds(INT_PERCENTAGE).i16(p); }

Chunk3ds nodeHeader(const char* name, uint16_t parent, uint16_t flags1 = 0, uint16_t flags2 = 0) {
    return Chunk3ds(NODE_HDR).name(name).u16(flags1).u16(flags2).u16(parent);
}

void expectColour(const float* colour, float r, float g, float b) {
    EXPECT_EQ(colour[0], r);
    EXPECT_EQ(colour[1], g);
    EXPECT_EQ(colour[2], b);
}

TEST_F(ReaderWalk, EmptyFileGivesThreeEmptyLists) {
    ASSERT_NO_FATAL_FAILURE(read({}));
    ASSERT_TRUE(meshes && materials && keyframes);
    EXPECT_EQ(meshes->count, 0);
    EXPECT_EQ(materials->count, 0);
    EXPECT_EQ(keyframes->count, 0);
}

TEST_F(ReaderWalk, MeshNameSlotAndRecordBothHoldTheObjectName) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({namedObject("Box", {triMesh()})})));
    ASSERT_EQ(meshes->count, 1);
    EXPECT_STREQ(meshes->names[0], "Box");
    EXPECT_STREQ(meshes->records[0].name, "Box");
    EXPECT_EQ(meshes->records[0].vertices, nullptr);
    EXPECT_EQ(meshes->records[0].smoothingGroups, nullptr);
}

TEST_F(ReaderWalk, TopLevelDataChunkIsWalkedWithoutMagic) {
    Chunk3ds mdata(MDATA);
    mdata.add(namedObject("Box", {triMesh()}));
    ASSERT_NO_FATAL_FAILURE(read(mdata.bytes()));
    ASSERT_EQ(meshes->count, 1);
    EXPECT_STREQ(meshes->names[0], "Box");
}

TEST_F(ReaderWalk, LightObjectMakesNoMeshButLeavesItsNameForTheNextMesh) {
    Chunk3ds light(0x4600);
    light.floats({1, 2, 3}).add(floatColour(1, 1, 1));
    Chunk3ds camera(0x4700);
    camera.floats({0, 0, 0, 1, 1, 1, 0, 45});
    // The 0x4100 after the light belongs to no object of its own: the flat walk
    // names it after the last 0x4000 it met.
    ASSERT_NO_FATAL_FAILURE(read(model3ds({namedObject("A", {triMesh()}), namedObject("Lamp", {light}), namedObject("Cam", {camera}), namedObject("B", {triMesh()}),
                   namedObject("Lamp2", {light}), triMesh()})));
    ASSERT_EQ(meshes->count, 3);
    EXPECT_STREQ(meshes->names[0], "A");
    EXPECT_STREQ(meshes->names[1], "B");
    EXPECT_STREQ(meshes->names[2], "Lamp2");
    EXPECT_EQ(materials->count, 0);
}

TEST_F(ReaderWalk, EveryTriObjectOfOneNamedObjectTakesItsName) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({namedObject("Twice", {triMesh(), triMesh()}), namedObject("Once", {triMesh()})})));
    ASSERT_EQ(meshes->count, 3);
    EXPECT_STREQ(meshes->names[0], "Twice");
    EXPECT_STREQ(meshes->names[1], "Twice");
    EXPECT_STREQ(meshes->names[2], "Once");
}

TEST_F(ReaderWalk, MeshArraysAreReadInFileOrder) {
    Chunk3ds faces(FACE_ARRAY);
    faces.u16(2).u16(0).u16(1).u16(2).u16(7).u16(2).u16(1).u16(0).u16(0x8000);
    faces.add(Chunk3ds(MSH_MAT_GROUP).name("Red").u16(1).u16(1));
    faces.add(Chunk3ds(MSH_MAT_GROUP).name("Blue").u16(2).u16(0).u16(1));
    faces.add(Chunk3ds(SMOOTH_GROUP).u32(1).u32(0x80000003));
    ASSERT_NO_FATAL_FAILURE(read(model3ds({namedObject("M", {triMesh({
                                    Chunk3ds(POINT_ARRAY).u16(3).floats({1, 2, 3, -4, 5.5f, 6, 7, 8, 9}),
                                    Chunk3ds(POINT_FLAG_ARRAY).u16(2).u16(0xAB).u16(0xCD),
                                    Chunk3ds(TEX_VERTS).u16(3).floats({0, 1, 0.5f, 0.25f, -1, 2}),
                                    Chunk3ds(MESH_MATRIX).floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 20, 30}),
                                    faces,
                                })})})));
    ASSERT_EQ(meshes->count, 1);
    const MeshRecord& mesh = meshes->records[0];
    ASSERT_EQ(mesh.vertexCount, 3);
    EXPECT_EQ(mesh.vertices[3], -4.0f);
    EXPECT_EQ(mesh.vertices[4], 5.5f);
    EXPECT_EQ(mesh.vertices[8], 9.0f);
    ASSERT_EQ(mesh.vertexFlagCount, 2);
    EXPECT_EQ(mesh.vertexFlags[1], 0xCD);
    ASSERT_EQ(mesh.texCoordCount, 3);
    EXPECT_EQ(mesh.texCoords[3], 0.25f);
    EXPECT_EQ(mesh.texCoords[5], 2.0f);
    EXPECT_EQ(mesh.matrix[9], 10.0f);
    EXPECT_EQ(mesh.matrix[11], 30.0f);
    ASSERT_EQ(mesh.faceCount, 2);
    EXPECT_EQ(mesh.faces[0].c, 2);
    EXPECT_EQ(mesh.faces[0].flags, 7);
    EXPECT_EQ(mesh.faces[1].a, 2);
    EXPECT_EQ(mesh.faces[1].flags, 0x8000);
    ASSERT_NE(mesh.smoothingGroups, nullptr);
    EXPECT_EQ(mesh.smoothingGroups[1], 0x80000003u);
    ASSERT_EQ(mesh.materialGroupCount, 2);
    EXPECT_STREQ(mesh.materialGroups[0].materialName, "Red");
    ASSERT_EQ(mesh.materialGroups[0].faceCount, 1);
    EXPECT_EQ(mesh.materialGroups[0].faces[0], 1);
    EXPECT_STREQ(mesh.materialGroups[1].materialName, "Blue");
    ASSERT_EQ(mesh.materialGroups[1].faceCount, 2);
    EXPECT_EQ(mesh.materialGroups[1].faces[1], 1);
}

TEST_F(ReaderWalk, PointFlagsBeyondTheirCountAreSkippedByTheChunkLength) {
    // As in fels.3ds: the count says 1 but the chunk holds 3 flags.
    ASSERT_NO_FATAL_FAILURE(read(model3ds({namedObject("M", {triMesh({Chunk3ds(POINT_FLAG_ARRAY).u16(1).u16(5).u16(6).u16(7),
                                         Chunk3ds(FACE_ARRAY).u16(1).u16(0).u16(0).u16(0).u16(0)})})})));
    ASSERT_EQ(meshes->count, 1);
    EXPECT_EQ(meshes->records[0].vertexFlagCount, 1);
    EXPECT_EQ(meshes->records[0].vertexFlags[0], 5);
    EXPECT_EQ(meshes->records[0].faceCount, 1);
}

TEST_F(ReaderWalk, TextureCoordinatesOutsideTenToTheTenAreZero) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    ASSERT_NO_FATAL_FAILURE(read(model3ds({namedObject("M", {triMesh({Chunk3ds(TEX_VERTS).u16(4).floats({2e10f, -3e10f, 1e10f, -1e10f, nan, inf,
                                                                          0.75f, -0.5f})})})})));
    const MeshRecord& mesh = meshes->records[0];
    ASSERT_EQ(mesh.texCoordCount, 4);
    EXPECT_EQ(mesh.texCoords[0], 0.0f);
    EXPECT_EQ(mesh.texCoords[1], 0.0f);
    EXPECT_EQ(mesh.texCoords[2], 1e10f);
    EXPECT_EQ(mesh.texCoords[3], -1e10f);
    EXPECT_EQ(mesh.texCoords[4], 0.0f);
    EXPECT_EQ(mesh.texCoords[5], 0.0f);
    EXPECT_EQ(mesh.texCoords[6], 0.75f);
    EXPECT_EQ(mesh.texCoords[7], -0.5f);
}

TEST_F(ReaderWalk, MaterialWithOnlyANameKeepsTheValuesAtCreation) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("Plain")})));
    ASSERT_EQ(materials->count, 1);
    EXPECT_STREQ(materials->names[0], "Plain");
    MaterialRecord expected;
    initMaterialRecord(expected, "Plain");
    EXPECT_EQ(std::memcmp(&materials->records[0], &expected, sizeof expected), 0);

    const MaterialRecord& m = materials->records[0];
    expectColour(m.ambient, 0, 0, 0);
    expectColour(m.diffuse, 0, 0, 0);
    EXPECT_EQ(m.shininess, 1.0f);
    EXPECT_EQ(m.wireSize, 1.0f);
    EXPECT_EQ(m.shading, 1);
    EXPECT_EQ(m.transparency, 0.0f);
    EXPECT_STREQ(m.textureMap.fileName, "");
    EXPECT_EQ(m.textureMap.uScale, 1.0f);
    EXPECT_EQ(m.textureMap.vScale, 1.0f);
    EXPECT_EQ(m.textureMap.tilingMode, 1);
    EXPECT_EQ(m.textureMap.blendMode, 1);
    EXPECT_EQ(m.bumpMap.blendMode, 1);
}

TEST_F(ReaderWalk, ByteColoursAreDividedBy256AndTheLaterFormWins) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("M", -1, {Chunk3ds(MAT_AMBIENT).add({byteColour(255, 128, 0)}),
                                  Chunk3ds(MAT_DIFFUSE).add({byteColour(10, 20, 30), byteColour(64, 32, 16, LIN_COLOR_24)}),
                                  Chunk3ds(MAT_SPECULAR).add({byteColour(1, 2, 3, LIN_COLOR_24), byteColour(4, 5, 6)})})})));
    const MaterialRecord& m = materials->records[0];
    expectColour(m.ambient, 0.99609375f, 0.5f, 0.0f);
    expectColour(m.diffuse, 0.25f, 0.125f, 0.0625f);
    expectColour(m.specular, 4 / 256.0f, 5 / 256.0f, 6 / 256.0f);
}

TEST_F(ReaderWalk, TargetsOutliveTheMaterialThatSetThem) {
    // The second material's colour and percentage have no target chunk of
    // their own: they go where the first material's last target pointed.
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("A", -1, {Chunk3ds(MAT_DIFFUSE).add({byteColour(128, 128, 128)}), Chunk3ds(MAT_TEXMAP).add({percentage(50)})}),
                   material("B", -1, {byteColour(64, 64, 64), percentage(25)})})));
    ASSERT_EQ(materials->count, 2);
    expectColour(materials->records[1].diffuse, 0.25f, 0.25f, 0.25f);
    expectColour(materials->records[1].ambient, 0, 0, 0);
    EXPECT_EQ(materials->records[0].textureMap.percentage, 0.5f);
    EXPECT_EQ(materials->records[1].textureMap.percentage, 0.25f);
}

TEST_F(ReaderWalk, FloatColoursAreClampedAndYieldToByteColoursOfTheSameMaterial) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ASSERT_NO_FATAL_FAILURE(read(model3ds({
        material("OnlyFloats", -1, {Chunk3ds(MAT_AMBIENT).add({floatColour(0.25f, 1.5f, -0.5f)}),
                                Chunk3ds(MAT_DIFFUSE).add({floatColour(nan, 0.5f, 1.0f, LIN_COLOR_F)})}),
        material("ByteFirst", -1, {Chunk3ds(MAT_DIFFUSE).add({byteColour(128, 0, 0), floatColour(0, 1, 0)})}),
        material("FloatFirst", -1, {Chunk3ds(MAT_DIFFUSE).add({floatColour(0, 1, 0, LIN_COLOR_F), byteColour(0, 0, 64)}),
                                Chunk3ds(MAT_SPECULAR).add({floatColour(0.5f, 0.5f, 0.5f)})}),
        // The byte colours of the materials before do not hold back this one.
        material("FloatAfterByteMaterial", -1, {floatColour(0.75f, 0.75f, 0.75f)}),
    })));
    ASSERT_EQ(materials->count, 4);
    expectColour(materials->records[0].ambient, 0.25f, 1.0f, 0.0f);
    expectColour(materials->records[0].diffuse, 0.0f, 0.5f, 1.0f);
    expectColour(materials->records[1].diffuse, 0.5f, 0.0f, 0.0f);
    expectColour(materials->records[2].diffuse, 0.0f, 0.0f, 0.25f);
    expectColour(materials->records[2].specular, 0.5f, 0.5f, 0.5f);
    expectColour(materials->records[3].specular, 0.75f, 0.75f, 0.75f);
}

TEST_F(ReaderWalk, PercentagesBecomeFractionsOfTheTargetProperty) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("M", -1, {Chunk3ds(MAT_SHININESS).add({percentage(75)}), Chunk3ds(MAT_SHIN2PCT).add({percentage(-20)}),
                                  Chunk3ds(MAT_TRANSPARENCY).add({percentage(30)}), Chunk3ds(MAT_XPFALL).add({percentage(40)}),
                                  Chunk3ds(MAT_REFBLUR).add({percentage(50)}), Chunk3ds(MAT_SELF_ILPCT).add({percentage(100)}),
                                  Chunk3ds(MAT_BUMPMAP).add({percentage(7)}),
                                  // Float percentages are skipped: writers disagree on their unit.
                                  Chunk3ds(MAT_TRANSPARENCY).add({Chunk3ds(FLOAT_PERCENTAGE).f32(0.9f)})})})));
    const MaterialRecord& m = materials->records[0];
    EXPECT_EQ(m.shininess, 0.75f);
    EXPECT_EQ(m.shininessStrength, -0.2f);
    EXPECT_EQ(m.transparency, 0.3f);
    EXPECT_EQ(m.transparencyFalloff, 0.4f);
    EXPECT_EQ(m.reflectionBlur, 0.5f);
    EXPECT_EQ(m.selfIllumination, 1.0f);
    EXPECT_EQ(m.bumpMap.percentage, 0.07f);
    EXPECT_EQ(m.textureMap.percentage, 0.0f);
}

TEST_F(ReaderWalk, FlagChunksWireSizeAndShading) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("M", -1, {Chunk3ds(MAT_SELF_ILLUM), Chunk3ds(MAT_TWO_SIDE), Chunk3ds(MAT_DECAL),
                                  Chunk3ds(MAT_ADDITIVE), Chunk3ds(MAT_WIRE), Chunk3ds(MAT_FACEMAP),
                                  Chunk3ds(MAT_PHONGSOFT), Chunk3ds(MAT_WIREABS), Chunk3ds(MAT_USE_XPFALL),
                                  Chunk3ds(MAT_USE_REFBLUR), Chunk3ds(MAT_WIRESIZE).f32(2.5f),
                                  Chunk3ds(MAT_SHADING).u16(0xFFFF)}),
                   material("N", -1, {Chunk3ds(MAT_TWO_SIDE)})})));
    const MaterialRecord& m = materials->records[0];
    EXPECT_EQ(m.selfIlluminated + m.twoSided + m.decal + m.additive + m.wire + m.faceMap + m.softPhong +
                  m.wireAbsolute + m.useFalloff + m.useReflectionBlur,
              10);
    EXPECT_EQ(m.wireSize, 2.5f);
    EXPECT_EQ(m.shading, 0xFFFF);
    const MaterialRecord& n = materials->records[1];
    EXPECT_EQ(n.twoSided, 1);
    EXPECT_EQ(n.wire, 0);
    EXPECT_EQ(n.shading, 1);
}

TEST_F(ReaderWalk, TilingFlagsAreDecodedIntoTheTargetMap) {
    struct Case {
        uint16_t flags;
        int32_t tilingMode;
        uint8_t ignoreAlpha;
        int32_t summedArea;
        uint8_t mirror, negative;
    };
    const Case cases[] = {{0x0001, 3, 0, 0, 0, 0},  {0x0010, 16, 0, 0, 0, 0}, {0x0011, 13, 0, 0, 0, 0},
                          {0x0000, 0, 0, 0, 0, 0},  {0x0022, 0, 0, 32, 2, 0}, {0x0108, 0, 1, 0, 0, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flags);
        ASSERT_NO_FATAL_FAILURE(read(model3ds({material("M", -1, {Chunk3ds(MAT_BUMPMAP).add({Chunk3ds(MAT_MAP_TILING).u16(c.flags)})})})));
        const MapRecord& bump = materials->records[0].bumpMap;
        EXPECT_EQ(bump.tilingMode, c.tilingMode);
        EXPECT_EQ(bump.ignoreAlpha != 0, c.ignoreAlpha != 0);
        EXPECT_EQ(bump.summedArea, c.summedArea);
        EXPECT_EQ(bump.mirror, c.mirror);
        EXPECT_EQ(bump.negative, c.negative);
        EXPECT_EQ(materials->records[0].textureMap.tilingMode, 1);
        database.releaseDatabase();
    }
}

TEST_F(ReaderWalk, MapChunksGoToTheTargetMapAndAreDroppedOtherwise) {
    Chunk3ds texture(MAT_TEXMAP);
    texture.add(Chunk3ds(MAT_MAPNAME).name("TEX.JPG"));
    texture.add(Chunk3ds(MAT_MAP_TEXBLUR).f32(0.1f)).add(Chunk3ds(MAT_MAP_USCALE).f32(2));
    texture.add(Chunk3ds(MAT_MAP_VSCALE).f32(3)).add(Chunk3ds(MAT_MAP_UOFFSET).f32(0.25f));
    texture.add(Chunk3ds(MAT_MAP_VOFFSET).f32(0.5f)).add(Chunk3ds(MAT_MAP_ANG).f32(45));
    Chunk3ds bump(MAT_BUMPMAP);
    bump.add(Chunk3ds(MAT_MAPNAME).name("BUMP.PNG")).add(Chunk3ds(MAT_MAP_USCALE).f32(4));
    // After a shininess chunk the map chunks are read and dropped, and the walk
    // stays in step: the wire size after them still arrives.
    Chunk3ds stray(MAT_SHININESS);
    stray.add(Chunk3ds(MAT_MAPNAME).name("NONE.BMP")).add(Chunk3ds(MAT_MAP_TILING).u16(0x11));
    stray.add(Chunk3ds(MAT_MAP_USCALE).f32(9)).add(Chunk3ds(MAT_MAP_ANG).f32(9));
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("M", -1, {texture, bump, stray, Chunk3ds(MAT_WIRESIZE).f32(3)})})));
    const MaterialRecord& m = materials->records[0];
    EXPECT_STREQ(m.textureMap.fileName, "TEX.JPG");
    EXPECT_EQ(m.textureMap.blur, 0.1f);
    EXPECT_EQ(m.textureMap.uScale, 2.0f);
    EXPECT_EQ(m.textureMap.vScale, 3.0f);
    EXPECT_EQ(m.textureMap.uOffset, 0.25f);
    EXPECT_EQ(m.textureMap.vOffset, 0.5f);
    EXPECT_EQ(m.textureMap.rotation, 45.0f);
    EXPECT_EQ(m.textureMap.tilingMode, 1);
    EXPECT_STREQ(m.bumpMap.fileName, "BUMP.PNG");
    EXPECT_EQ(m.bumpMap.uScale, 4.0f);
    EXPECT_EQ(m.bumpMap.vScale, 1.0f);
    EXPECT_EQ(m.bumpMap.tilingMode, 1);
    EXPECT_EQ(m.wireSize, 3.0f);
}

TEST_F(ReaderWalk, MapNamesLongerThanDosNamesAreKeptWhole) {
    // Twelve characters was all DOS allowed; exporters since store more, with
    // spaces, folders and bytes above 127.
    const std::string names[] = {"caldarifighter_tex_d.dds", "C:\\3DS\\MAPS\\DOOR FRAME.JPG",
                                 "caf\xe9 cr\xe8me.jpg", std::string(255, 'x')};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        Chunk3ds texture(MAT_TEXMAP);
        texture.add(Chunk3ds(MAT_MAPNAME).name(name));
        Chunk3ds bump(MAT_BUMPMAP);
        bump.add(Chunk3ds(MAT_MAPNAME).name(name + "_bump"));
        ASSERT_NO_FATAL_FAILURE(read(model3ds({material("M", -1, {texture, bump, Chunk3ds(MAT_WIRESIZE).f32(3)})})));
        const MaterialRecord& m = materials->records[0];
        EXPECT_EQ(m.textureMap.fileName, name);
        EXPECT_EQ(m.bumpMap.fileName, (name + "_bump").substr(0, 255));
        EXPECT_EQ(m.wireSize, 3.0f);
        database.releaseDatabase();
    }
}

TEST_F(ReaderWalk, NodeIdsComeFromTheFileOrFromTheIndex) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(40), nodeHeader("A", 0xFFFF, 0x4000, 3)}),
                       Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("B", 0xFFFF)}),  // no id chunk: its index
                       // An id with no header leaves its node open: the next header names it.
                       Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(7)}), Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("C", 0xFFFF)}),
                       Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("D", 0xFFFF)})})));
    ASSERT_EQ(keyframes->count, 4);
    EXPECT_EQ(keyframes->nodes[0].id, 40);
    EXPECT_STREQ(keyframes->nodes[0].name, "A");
    EXPECT_EQ(keyframes->nodes[0].flags1, 0x4000);
    EXPECT_EQ(keyframes->nodes[0].flags2, 3);
    EXPECT_EQ(keyframes->nodes[1].id, 1);
    EXPECT_STREQ(keyframes->nodes[1].name, "B");
    EXPECT_EQ(keyframes->nodes[2].id, 7);
    EXPECT_STREQ(keyframes->nodes[2].name, "C");
    EXPECT_EQ(keyframes->nodes[3].id, 3);
    EXPECT_STREQ(keyframes->nodes[3].name, "D");
}

TEST_F(ReaderWalk, NodeOpenFollowsIdAndHeader) {
    // An id opens a node that its pivot lands in, and a header in a later tag
    // still names it rather than opening one of its own.
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(1), Chunk3ds(PIVOT).floats({4, 5, 6})}),
                                               Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("A", 0xFFFF)})})));
    ASSERT_EQ(keyframes->count, 1);
    EXPECT_EQ(keyframes->nodes[0].id, 1);
    EXPECT_EQ(keyframes->nodes[0].pivot[1], 5.0f);
    EXPECT_STREQ(keyframes->nodes[0].name, "A");
    database.releaseDatabase();
    // Two headers in a row make two nodes; an id chunk in between opens one.
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("A", 0xFFFF), nodeHeader("B", 0xFFFF), Chunk3ds(NODE_ID).u16(9),
                                   nodeHeader("C", 0xFFFF)})})));
    ASSERT_EQ(keyframes->count, 3);
    EXPECT_STREQ(keyframes->nodes[1].name, "B");
    EXPECT_EQ(keyframes->nodes[2].id, 9);
    EXPECT_STREQ(keyframes->nodes[2].name, "C");
}

TEST_F(ReaderWalk, NodeHeaderResolvesItsParentByIdAgainstTheNodesReadSoFar) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(10), nodeHeader("Box", 0xFFFF),
                                      Chunk3ds(INSTANCE_NAME).name("A")}),
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(11), nodeHeader("Arm", 10)}),
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(12), nodeHeader("Hand", 11)}),
                          // Parent 13 comes later in the file: not resolved.
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(14), nodeHeader("Early", 13)}),
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(13), nodeHeader("Late", 0xFFFF)}),
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(15), nodeHeader("$$$DUMMY", 0xFFFF),
                                      Chunk3ds(INSTANCE_NAME).name("D1")}),
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(16), nodeHeader("Self", 16)}),
                          Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(17), nodeHeader("UnderDummy", 15)}),
                      })));
    ASSERT_EQ(keyframes->count, 8);
    EXPECT_STREQ(keyframes->nodes[0].parentName, "");
    EXPECT_STREQ(keyframes->nodes[1].parentName, "Box.A");
    EXPECT_EQ(keyframes->nodes[1].parentId, 10);
    EXPECT_STREQ(keyframes->nodes[2].parentName, "Arm");
    EXPECT_STREQ(keyframes->nodes[3].parentName, "");
    EXPECT_EQ(keyframes->nodes[3].parentId, 13);
    EXPECT_STREQ(keyframes->nodes[6].parentName, "Self");
    EXPECT_STREQ(keyframes->nodes[7].parentName, "$$$DUMMY.D1");
}

TEST_F(ReaderWalk, NodeFieldsPivotBoundingBoxAndInstanceName) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {Chunk3ds(OBJECT_NODE_TAG).add({Chunk3ds(NODE_ID).u16(0), nodeHeader("Box", 0xFFFF), Chunk3ds(PIVOT).floats({1, 2, 3}),
                                   Chunk3ds(INSTANCE_NAME).name("Left"),
                                   Chunk3ds(BOUNDBOX).floats({-1, -2, -3, 4, 5, 6})})})));
    const KeyframeNode& node = keyframes->nodes[0];
    EXPECT_EQ(node.pivot[2], 3.0f);
    EXPECT_STREQ(node.instanceName, "Left");
    EXPECT_EQ(node.boundingBox[0], -1.0f);
    EXPECT_EQ(node.boundingBox[5], 6.0f);
    char full[kFullNameSize];
    fullName(node, full);
    EXPECT_STREQ(full, "Box.Left");
}

TEST_F(ReaderWalk, TrackKeysKeepTheSplineValuesTheFileGives) {
    Chunk3ds position = trackHeader(POS_TRACK_TAG, 4);
    position.u32(0).u16(0).floats({1, 2, 3});                          // no spline values
    position.u32(10).u16(0x01).f32(-1.0f).floats({4, 5, 6});            // tension -1
    position.u32(20).u16(0x08).f32(0.5f).floats({7, 8, 9});             // ease to 0.5
    position.u32(30).u16(0x1F).floats({0.3f, 0.7f, -0.1f, 1, 0.25f}).floats({10, 11, 12});
    Chunk3ds rotation = trackHeader(ROT_TRACK_TAG, 2);
    rotation.u32(0).u16(0).floats({0, 0, 0, 1});
    rotation.u32(5).u16(0x04).f32(0.9f).floats({1.5f, 0, 1, 0});
    Chunk3ds scale = trackHeader(SCL_TRACK_TAG, 1);
    // Values beyond the dialogue's ranges are kept as they are too.
    scale.u32(0).u16(0x12).floats({0.2f, -3}).floats({2, 2, 2});
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("Box", 0xFFFF), position, rotation, scale})})));
    const KeyframeNode& node = keyframes->nodes[0];

    ASSERT_EQ(node.positionKeyCount, 4u);
    const TrackKey* k = node.positionKeys;
    EXPECT_EQ(k[0].tension, 0.0f);
    EXPECT_EQ(k[0].continuity, 0.0f);
    EXPECT_EQ(k[0].bias, 0.0f);
    EXPECT_EQ(k[0].easeTo, 0.0f);
    EXPECT_EQ(k[0].easeFrom, 0.0f);
    EXPECT_EQ(k[1].frame, 10u);
    EXPECT_EQ(k[1].splineFlags, 0x01);
    EXPECT_EQ(k[1].tension, -1.0f);
    EXPECT_EQ(k[1].easeTo, 0.0f);
    EXPECT_EQ(k[2].easeTo, 0.5f);
    EXPECT_EQ(k[2].tension, 0.0f);
    EXPECT_EQ(k[2].bias, 0.0f);
    // 0.3, 0.7 and -0.1 have no exact binary form: any scaling on the way
    // would show in their last bits.
    EXPECT_EQ(k[3].tension, 0.3f);
    EXPECT_EQ(k[3].continuity, 0.7f);
    EXPECT_EQ(k[3].bias, -0.1f);
    EXPECT_EQ(k[3].easeTo, 1.0f);
    EXPECT_EQ(k[3].easeFrom, 0.25f);
    EXPECT_EQ(node.positionValues[3], 4.0f);
    EXPECT_EQ(node.positionValues[11], 12.0f);

    ASSERT_EQ(node.rotationKeyCount, 2u);
    EXPECT_EQ(node.rotationKeys[1].bias, 0.9f);
    EXPECT_EQ(node.rotationKeys[1].tension, 0.0f);
    EXPECT_EQ(node.rotationValues[4], 1.5f);
    EXPECT_EQ(node.rotationValues[6], 1.0f);

    ASSERT_EQ(node.scaleKeyCount, 1u);
    EXPECT_EQ(node.scaleKeys[0].continuity, 0.2f);
    EXPECT_EQ(node.scaleKeys[0].easeFrom, -3.0f);
    EXPECT_EQ(node.scaleValues[2], 2.0f);
}

TEST_F(ReaderWalk, KeyframerSegmentAndSavedTimeAreRead) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("A", 0xFFFF)})})));
    EXPECT_EQ(keyframes->segmentStart, 0u);
    EXPECT_EQ(keyframes->segmentEnd, 0u);
    EXPECT_EQ(keyframes->currentTime, 0u);
    database.releaseDatabase();

    // The header chunk before them is skipped; the nodes after them are read.
    Chunk3ds header(0xB00A);
    header.u16(5).name("MAXSCENE").u32(300);
    ASSERT_NO_FATAL_FAILURE(read(model3ds({}, {header, Chunk3ds(KFSEG).u32(10).u32(0x80000001u),
                                               Chunk3ds(KFCURTIME).u32(28800),
                                               Chunk3ds(OBJECT_NODE_TAG).add({nodeHeader("B", 0xFFFF)})})));
    EXPECT_EQ(keyframes->segmentStart, 10u);
    EXPECT_EQ(keyframes->segmentEnd, 0x80000001u);
    EXPECT_EQ(keyframes->currentTime, 28800u);
    ASSERT_EQ(keyframes->count, 1);
    EXPECT_STREQ(keyframes->nodes[0].name, "B");
}

TEST_F(ReaderWalk, SkippedChunksTakeTheirSubChunksAlong) {
    // A colour under the background chunk and a mesh under an unknown chunk
    // are never reached.
    Chunk3ds background(0x1200);
    background.add(byteColour(255, 255, 255));
    Chunk3ds unknown(0x7777);
    unknown.add(namedObject("Hidden", {triMesh()}));
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("M", -1, {Chunk3ds(MAT_DIFFUSE).add({byteColour(64, 64, 64)})}), background, unknown,
                   Chunk3ds(0x0100).f32(1), namedObject("Seen", {triMesh()})})));
    ASSERT_EQ(meshes->count, 1);
    EXPECT_STREQ(meshes->names[0], "Seen");
    expectColour(materials->records[0].diffuse, 0.25f, 0.25f, 0.25f);
}

}  // namespace
