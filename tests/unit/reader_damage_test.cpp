// Damaged and hostile files: damage to the chunk framing ends the walk and
// keeps what was read before it; damage inside a chunk whose length is sound
// skips only that chunk. The walk never sizes an allocation by a count the
// file cannot back, and frees everything. Run under the sanitizers to see
// overreads and leaks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>

#include "reader/ModelDatabase.h"
#include "reader/ModelLists.h"
#include "tests/support/FailingAllocations.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

using ReaderDamage = ModelReadTest;

Chunk3ds triangle() {
    Chunk3ds faces(FACE_ARRAY);
    faces.u16(1).u16(0).u16(1).u16(2).u16(0);
    faces.add(Chunk3ds(MSH_MAT_GROUP).name("Red").u16(1).u16(0));
    faces.add(Chunk3ds(SMOOTH_GROUP).u32(1));
    return faces;
}

Chunk3ds points(uint16_t n) {
    Chunk3ds chunk(POINT_ARRAY);
    chunk.u16(n);
    for (int i = 0; i < n * 3; ++i) chunk.f32(float(i));
    return chunk;
}

// keys keys ten frames apart with tension and ease to, each of values floats.
Chunk3ds track(uint16_t id, uint32_t keys, int values) {
    std::vector<SplineKey> written;
    for (uint32_t k = 0; k < keys; ++k) {
        SplineKey key{k * 10, {}, 0x09, {0.5f, -0.5f}};
        for (int v = 0; v < values; ++v) key.value.push_back(float(v));
        written.push_back(key);
    }
    return splineTrack(id, written);
}

// A model that uses every kind of record and array the reader fills.
Bytes richModel() {
    Chunk3ds red(MAT_ENTRY);
    red.add(Chunk3ds(MAT_NAME).name("Red"));
    red.add(Chunk3ds(MAT_DIFFUSE).add(Chunk3ds(COLOR_24).u8(200).u8(0).u8(0)));
    red.add(Chunk3ds(MAT_SHININESS).add(Chunk3ds(INT_PERCENTAGE).i16(40)));
    Chunk3ds map(MAT_TEXMAP);
    map.add(Chunk3ds(INT_PERCENTAGE).i16(100)).add(Chunk3ds(MAT_MAPNAME).name("RED.PNG"));
    map.add(Chunk3ds(MAT_MAP_TILING).u16(0x10)).add(Chunk3ds(MAT_MAP_USCALE).f32(2));
    red.add(map).add(Chunk3ds(MAT_TWO_SIDE));
    Chunk3ds blue(MAT_ENTRY);
    blue.add(Chunk3ds(MAT_NAME).name("Blue"));
    blue.add(Chunk3ds(MAT_AMBIENT).add(Chunk3ds(COLOR_F).floats({0, 0, 1})));
    return model3ds(
        {red, blue,
         meshObject("Box", {points(3), Chunk3ds(POINT_FLAG_ARRAY).u16(3).u16(0).u16(0).u16(0),
                        Chunk3ds(TEX_VERTS).u16(3).floats({0, 0, 1, 0, 1, 1}),
                        Chunk3ds(MESH_MATRIX).floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}), triangle()}),
         meshObject("Ball", {points(4), triangle()})},
        {Chunk3ds(KFSEG).u32(0).u32(30), Chunk3ds(KFCURTIME).u32(480),
         objectNode(0, "Box", 0xFFFF,
                    {Chunk3ds(INSTANCE_NAME).name("A"), Chunk3ds(PIVOT).floats({1, 2, 3}),
                     track(POS_TRACK_TAG, 2, 3), track(ROT_TRACK_TAG, 2, 4), track(SCL_TRACK_TAG, 1, 3)}),
         objectNode(1, "Ball", 0, {Chunk3ds(BOUNDBOX).floats({0, 0, 0, 1, 1, 1}), track(POS_TRACK_TAG, 1, 3)})});
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

TEST_F(ReaderDamage, EveryPrefixOfAFileEndsTheWalkCleanly) {
    const Bytes full = richModel();
    ASSERT_EQ(readBytes(full), 1);
    ASSERT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    ASSERT_EQ(meshes->count, 2);
    ASSERT_EQ(keyframes->count, 2);
    const size_t fullMeshes = meshes->count, fullMaterials = materials->count, fullNodes = keyframes->count;
    database.releaseDatabase();

    for (size_t size = 1; size < full.size(); ++size) {
        SCOPED_TRACE(size);
        ASSERT_EQ(readBytes(Bytes(full.begin(), full.begin() + long(size))), 1);
        // Every prefix cuts the top chunk short.
        EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Truncated);
        EXPECT_LE(meshes->count, fullMeshes);
        EXPECT_LE(materials->count, fullMaterials);
        EXPECT_LE(keyframes->count, fullNodes);
        for (size_t i = 0; i < meshes->count; ++i) {
            const MeshRecord& mesh = meshes->records[i];
            EXPECT_TRUE(mesh.vertexCount == 0 || mesh.vertices);
            EXPECT_TRUE(mesh.smoothingGroups == nullptr || mesh.faceCount == 1);
        }
        database.releaseDatabase();
    }
}

TEST_F(ReaderDamage, TruncatedArrayKeepsTheRecordsBeforeIt) {
    const Bytes full = model3ds({meshObject("Whole", {points(3), triangle()}), meshObject("Cut", {points(5)})});
    // Cut inside the second mesh's vertices.
    ASSERT_EQ(readBytes(Bytes(full.begin(), full.end() - 10)), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Truncated);
    ASSERT_EQ(meshes->count, 2);
    EXPECT_EQ(meshes->records[0].vertexCount, 3);
    EXPECT_EQ(meshes->records[0].faceCount, 1);
    EXPECT_EQ(meshes->records[1].vertexCount, 0);
    EXPECT_EQ(meshes->records[1].vertices, nullptr);
}

TEST_F(ReaderDamage, BytesAfterTheLastChunkTooFewForAHeaderAreTruncation) {
    ASSERT_EQ(readBytes(concat(model3ds({meshObject("Box", {})}), {0x4D, 0x4D, 0})), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Truncated);
    EXPECT_EQ(meshes->count, 1);
}

TEST_F(ReaderDamage, ChunkLengthBelowSixEndsTheWalk) {
    for (uint32_t length : {0u, 1u, 5u}) {
        SCOPED_TRACE(length);
        const Bytes file = concat(model3ds({meshObject("Kept", {})}),
                                  concat(Chunk3ds(0x1234).length(length).bytes(), model3ds({meshObject("Lost", {})})));
        ASSERT_EQ(readBytes(file), 1);
        EXPECT_EQ(database.lastWalkEnd(), WalkEnd::BadChunkLength);
        ASSERT_EQ(meshes->count, 1);
        EXPECT_STREQ(meshes->names[0], "Kept");
        database.releaseDatabase();
    }
}

TEST_F(ReaderDamage, ChunkLengthPastTheLargestOffsetEndsTheWalk) {
    // 0x80000000 is past it from offset 0; 0x7FFFFFFF is past it from anywhere
    // but the start, even inside a container that is descended into.
    const Bytes first = concat(Chunk3ds(0x1234).length(0x80000000u).bytes(), model3ds({meshObject("Lost", {})}));
    ASSERT_EQ(readBytes(first), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::BadChunkLength);
    EXPECT_EQ(meshes->count, 0);
    database.releaseDatabase();

    Chunk3ds mdata(MDATA);
    mdata.add(meshObject("Kept", {})).add(Chunk3ds(KFDATA).length(0x7FFFFFFFu)).add(meshObject("Lost", {}));
    ASSERT_EQ(readBytes(mdata.bytes()), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::BadChunkLength);
    ASSERT_EQ(meshes->count, 1);
    EXPECT_STREQ(meshes->names[0], "Kept");
}

TEST_F(ReaderDamage, SkippedChunkReachingPastTheFileIsTruncation) {
    const Bytes file = concat(model3ds({meshObject("Kept", {})}), Chunk3ds(0x1234).length(1000).u32(0).bytes());
    ASSERT_EQ(readBytes(file), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Truncated);
    EXPECT_EQ(meshes->count, 1);
}

TEST_F(ReaderDamage, CountsTheChunkCannotHoldSkipOnlyThatChunk) {
    struct Case {
        Chunk3ds bad;
        uint16_t faces;  // what the mesh keeps
    };
    const Case cases[] = {
        {Chunk3ds(POINT_ARRAY).u16(40000).floats({1, 2, 3}), 0},
        {Chunk3ds(POINT_FLAG_ARRAY).u16(3).u16(0).u16(0), 0},
        {Chunk3ds(TEX_VERTS).u16(2).floats({0, 0, 1}), 0},
        {Chunk3ds(FACE_ARRAY).u16(2).u16(0).u16(1).u16(2).u16(0), 0},
        {Chunk3ds(FACE_ARRAY).u16(1).u16(0).u16(1).u16(2).u16(0).add(Chunk3ds(MSH_MAT_GROUP).name("M").u16(9).u16(0)),
         1},
        // Two faces, one smoothing mask.
        {Chunk3ds(FACE_ARRAY).u16(2).u16(0).u16(1).u16(2).u16(0).u16(0).u16(1).u16(2).u16(0).add(
             Chunk3ds(SMOOTH_GROUP).u32(1)),
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        ASSERT_EQ(readBytes(model3ds({meshObject("Kept", {points(1)}), meshObject("Bad", {c.bad}),
                                      meshObject("After", {points(2)})})),
                  1);
        EXPECT_EQ(database.lastWalkEnd(), WalkEnd::DamagedChunksSkipped);
        ASSERT_EQ(meshes->count, 3);
        EXPECT_EQ(meshes->records[0].vertexCount, 1);
        const MeshRecord& mesh = meshes->records[1];
        EXPECT_EQ(mesh.vertexCount + mesh.vertexFlagCount + mesh.texCoordCount + mesh.materialGroupCount, 0);
        EXPECT_EQ(mesh.faceCount, c.faces);
        EXPECT_EQ(mesh.smoothingGroups, nullptr);
        EXPECT_STREQ(meshes->names[2], "After");
        EXPECT_EQ(meshes->records[2].vertexCount, 2);
        database.releaseDatabase();
    }
}

TEST_F(ReaderDamage, TrackKeysTheChunkCannotHoldSkipOnlyThatTrack) {
    Chunk3ds huge(POS_TRACK_TAG);
    huge.u16(0).u32(0).u32(0).u32(0xFFFFFFFFu).u32(0).u16(0).floats({1, 2, 3});
    // Two keys of plain size fit, but their spline values do not.
    Chunk3ds splines(ROT_TRACK_TAG);
    splines.u16(0).u32(0).u32(0).u32(2);
    for (int k = 0; k < 2; ++k) splines.u32(0).u16(0x1F).floats({1, 1, 1, 1});
    for (const Chunk3ds& bad : {huge, splines}) {
        ASSERT_EQ(readBytes(model3ds({}, {objectNode(0, "Kept", 0xFFFF, {track(SCL_TRACK_TAG, 1, 3)}),
                                     objectNode(1, "Bad", 0xFFFF, {bad, track(SCL_TRACK_TAG, 2, 3)}),
                                     objectNode(2, "After", 0xFFFF)})),
                  1);
        EXPECT_EQ(database.lastWalkEnd(), WalkEnd::DamagedChunksSkipped);
        ASSERT_EQ(keyframes->count, 3);
        EXPECT_EQ(keyframes->nodes[0].scaleKeyCount, 1u);
        EXPECT_EQ(keyframes->nodes[1].positionKeyCount, 0u);
        EXPECT_EQ(keyframes->nodes[1].positionKeys, nullptr);
        EXPECT_EQ(keyframes->nodes[1].rotationKeyCount, 0u);
        EXPECT_EQ(keyframes->nodes[1].rotationKeys, nullptr);
        // The track after the damaged one is read into the same node.
        EXPECT_EQ(keyframes->nodes[1].scaleKeyCount, 2u);
        EXPECT_STREQ(keyframes->nodes[2].name, "After");
        database.releaseDatabase();
    }
}

TEST_F(ReaderDamage, FixedPayloadLongerThanItsChunkIsSkipped) {
    Chunk3ds shortPivot(PIVOT);
    shortPivot.floats({1, 2});
    ASSERT_EQ(readBytes(model3ds({}, {objectNode(0, "Box", 0xFFFF, {shortPivot, Chunk3ds(INSTANCE_NAME).name("I")}),
                                      objectNode(1, "After", 0xFFFF)})),
              1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::DamagedChunksSkipped);
    ASSERT_EQ(keyframes->count, 2);
    EXPECT_EQ(keyframes->nodes[0].pivot[0], 0.0f);
    EXPECT_STREQ(keyframes->nodes[0].instanceName, "I");
    EXPECT_STREQ(keyframes->nodes[1].name, "After");
}

// Everything the lists hold, floats by their bits, so two reads can be compared.
std::string dumpModel(const MeshList* meshes, const MaterialList* materials, const KeyframeList* keyframes) {
    std::string out;
    auto put = [&out](const void* data, size_t bytes) {
        if (data) out.append(static_cast<const char*>(data), bytes);
        out += '|';
    };
    for (size_t i = 0; i < meshes->count; ++i) {
        const MeshRecord& m = meshes->records[i];
        put(m.name, sizeof m.name);
        put(m.vertices, 12 * size_t(m.vertexCount));
        put(m.vertexFlags, 2 * size_t(m.vertexFlagCount));
        put(m.texCoords, 8 * size_t(m.texCoordCount));
        put(m.matrix, sizeof m.matrix);
        put(m.faces, 8 * size_t(m.faceCount));
        put(m.smoothingGroups, 4 * size_t(m.faceCount));
        for (int g = 0; g < m.materialGroupCount; ++g) {
            put(m.materialGroups[g].materialName, sizeof m.materialGroups[g].materialName);
            put(m.materialGroups[g].faces, 2 * size_t(m.materialGroups[g].faceCount));
        }
    }
    put(materials->records, sizeof(MaterialRecord) * size_t(materials->count));
    for (size_t i = 0; i < keyframes->count; ++i) {
        const KeyframeNode& n = keyframes->nodes[i];
        put(&n.id, sizeof n.id);
        put(n.name, sizeof n.name);
        put(n.parentName, sizeof n.parentName);
        put(&n.parentId, sizeof n.parentId);
        put(n.pivot, sizeof n.pivot);
        put(n.instanceName, sizeof n.instanceName);
        put(n.boundingBox, sizeof n.boundingBox);
        put(n.positionKeys, sizeof(TrackKey) * n.positionKeyCount);
        put(n.positionValues, 12 * size_t(n.positionKeyCount));
        put(n.rotationKeys, sizeof(TrackKey) * n.rotationKeyCount);
        put(n.rotationValues, 16 * size_t(n.rotationKeyCount));
        put(n.scaleKeys, sizeof(TrackKey) * n.scaleKeyCount);
        put(n.scaleValues, 12 * size_t(n.scaleKeyCount));
    }
    return out;
}

// Where a damaged chunk goes in slotModel: after a sound chunk of its kind, so
// what it would overwrite is there to be kept.
enum class Slot { Mesh, FaceArray, Material, Diffuse, Shininess, TextureMap, Node };

// A model with a sound chunk of every kind the reader handles, and extra, when
// given, at the slot; a mesh, a material and a node follow the slot.
Bytes slotModel(Slot slot, const Chunk3ds* extra) {
    auto at = [&](Slot here, Chunk3ds& parent) {
        if (extra && slot == here) parent.add(*extra);
    };
    Chunk3ds faces = faceArray({{0, 1, 2}, {0, 2, 3}}, {materialGroup("Red", {0, 1}), smoothGroup({1, 2})});
    at(Slot::FaceArray, faces);
    Chunk3ds tri(N_TRI_OBJECT);
    tri.add({pointArray({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}), Chunk3ds(POINT_FLAG_ARRAY).u16(1).u16(3),
             texVerts({0, 0, 1, 0, 1, 1, 0, 1}), meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 6, 7}), faces});
    at(Slot::Mesh, tri);
    Chunk3ds diffuse = colour(MAT_DIFFUSE, 10, 20, 30);
    at(Slot::Diffuse, diffuse);
    Chunk3ds shininess = percentage(MAT_SHININESS, 40);
    at(Slot::Shininess, shininess);
    Chunk3ds map = mapChunk(MAT_TEXMAP, "RED.PNG");
    map.add({Chunk3ds(MAT_MAP_TILING).u16(0x10), Chunk3ds(MAT_MAP_USCALE).f32(2), Chunk3ds(MAT_MAP_VOFFSET).f32(0.5f)});
    at(Slot::TextureMap, map);
    Chunk3ds red = material("Red", 0, {diffuse, shininess, Chunk3ds(MAT_WIRESIZE).f32(3), map});
    at(Slot::Material, red);
    red.add(Chunk3ds(MAT_TWO_SIDE));
    Chunk3ds node = objectNode(3, "Box", kNoParent,
                               {Chunk3ds(PIVOT).floats({1, 2, 3}), Chunk3ds(BOUNDBOX).floats({0, 0, 0, 1, 1, 1}),
                                track(POS_TRACK_TAG, {{4, 5, 6}}), track(ROT_TRACK_TAG, {{0.5f, 0, 0, 1}}),
                                track(SCL_TRACK_TAG, {{2, 2, 2}})});
    at(Slot::Node, node);
    node.add(Chunk3ds(INSTANCE_NAME).name("A"));
    return model3ds({red, material("Blue", 3, {colour(MAT_DIFFUSE, 0, 0, 90)}), namedObject("Box", {tri}),
                     meshObject("After", {pointArray({0, 0, 0})})},
                    {node, objectNode(4, "After", 3)});
}

TEST_F(ReaderDamage, ChunkDamagedInsideLeavesTheModelAsIfItWereAbsent) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    SplineKey overrun{0, {0.5f, 0, 0, 1}, 0x1F, {}};
    SplineKey nanSpline{0, {1, 2, 3}, 0x01, {nan}};
    struct Case {
        const char* label;
        Slot slot;
        Chunk3ds chunk;
    };
    const Case cases[] = {
        {"points past end", Slot::Mesh, Chunk3ds(POINT_ARRAY).u16(5).floats({9, 9, 9})},
        {"points without count", Slot::Mesh, Chunk3ds(POINT_ARRAY)},
        {"flags say 7 hold 4", Slot::Mesh, Chunk3ds(POINT_FLAG_ARRAY).u16(7).u16(1).u16(1).u16(1).u16(1)},
        {"flags empty", Slot::Mesh, Chunk3ds(POINT_FLAG_ARRAY)},
        {"texture coordinates past end", Slot::Mesh, Chunk3ds(TEX_VERTS).u16(9).floats({0.5f, 0.5f})},
        {"frame of 11 floats", Slot::Mesh, Chunk3ds(MESH_MATRIX).floats({2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0})},
        {"frame with infinity", Slot::Mesh, meshMatrix({2, 0, 0, 0, 2, 0, 0, 0, 2, inf, 0, 0})},
        {"frame with nan", Slot::Mesh, meshMatrix({nan, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0})},
        {"faces past end with their groups", Slot::Mesh,
         Chunk3ds(FACE_ARRAY).u16(200).u16(2).u16(1).u16(0).u16(0).add({materialGroup("Blue", {0}), smoothGroup({4})})},
        {"material group past end", Slot::FaceArray, Chunk3ds(MSH_MAT_GROUP).name("Blue").u16(3).u16(0)},
        {"material group without count", Slot::FaceArray, Chunk3ds(MSH_MAT_GROUP).name("Blue")},
        {"smoothing shorter than the faces", Slot::FaceArray, smoothGroup({8})},
        {"wire size short", Slot::Material, Chunk3ds(MAT_WIRESIZE).u16(0)},
        {"wire size nan", Slot::Material, Chunk3ds(MAT_WIRESIZE).f32(nan)},
        {"shading short", Slot::Material, Chunk3ds(MAT_SHADING).u8(2)},
        {"byte colour short", Slot::Diffuse, Chunk3ds(COLOR_24).u8(1).u8(2)},
        {"linear byte colour short", Slot::Diffuse, Chunk3ds(LIN_COLOR_24).u8(1)},
        {"float colour short", Slot::Diffuse, Chunk3ds(COLOR_F).floats({1, 1})},
        {"linear float colour short", Slot::Diffuse, Chunk3ds(LIN_COLOR_F).floats({1})},
        {"percentage short", Slot::Shininess, Chunk3ds(INT_PERCENTAGE).u8(80)},
        {"tiling short", Slot::TextureMap, Chunk3ds(MAT_MAP_TILING).u8(1)},
        {"blur short", Slot::TextureMap, Chunk3ds(MAT_MAP_TEXBLUR).u16(1)},
        {"u scale short", Slot::TextureMap, Chunk3ds(MAT_MAP_USCALE).u8(1).u8(2).u8(3)},
        {"v scale infinite", Slot::TextureMap, Chunk3ds(MAT_MAP_VSCALE).f32(inf)},
        {"u offset nan", Slot::TextureMap, Chunk3ds(MAT_MAP_UOFFSET).f32(nan)},
        {"v offset minus infinity", Slot::TextureMap, Chunk3ds(MAT_MAP_VOFFSET).f32(-inf)},
        {"angle nan", Slot::TextureMap, Chunk3ds(MAT_MAP_ANG).f32(nan)},
        {"node id short", Slot::Node, Chunk3ds(NODE_ID).u8(7)},
        {"pivot short", Slot::Node, Chunk3ds(PIVOT).floats({1, 2})},
        {"pivot nan", Slot::Node, Chunk3ds(PIVOT).floats({9, nan, 9})},
        {"bounding box short", Slot::Node, Chunk3ds(BOUNDBOX).floats({0, 0, 0, 1, 1})},
        {"track header short", Slot::Node, Chunk3ds(POS_TRACK_TAG).u16(0).u32(0)},
        {"track count past end", Slot::Node, trackHeader(POS_TRACK_TAG, 0xFFFFFFFFu).u32(0).u16(0).floats({1, 1, 1})},
        {"rotation splines past end", Slot::Node, splineTrack(ROT_TRACK_TAG, {overrun})},
        {"scale key infinite", Slot::Node, track(SCL_TRACK_TAG, {{1, 1, 1}, {inf, 1, 1}})},
        {"position spline nan", Slot::Node, splineTrack(POS_TRACK_TAG, {nanSpline})},
    };
    ASSERT_EQ(readBytes(slotModel(Slot::Mesh, nullptr)), 1);
    ASSERT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    ASSERT_EQ(meshes->count, 2);
    ASSERT_EQ(materials->count, 2);
    ASSERT_EQ(keyframes->count, 2);
    const std::string sound = dumpModel(meshes, materials, keyframes);
    database.releaseDatabase();

    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_EQ(readBytes(slotModel(c.slot, &c.chunk)), 1);
        EXPECT_EQ(database.lastWalkEnd(), WalkEnd::DamagedChunksSkipped);
        EXPECT_TRUE(dumpModel(meshes, materials, keyframes) == sound);
        database.releaseDatabase();
    }
}

TEST_F(ReaderDamage, DamagedNodeHeaderStillEndsItsNode) {
    // Nodes without ids are numbered by their place; the damaged header's
    // pivot stays with its own node, and the nodes after it keep their numbers.
    auto tag = [](const Chunk3ds& header, std::initializer_list<Chunk3ds> more) {
        return Chunk3ds(OBJECT_NODE_TAG).add(header).add(more);
    };
    const Bytes file = model3ds(
        {}, {tag(Chunk3ds(NODE_HDR).name("A").u16(0).u16(0).u16(kNoParent), {}),
             tag(Chunk3ds(NODE_HDR).name("B").u16(0), {Chunk3ds(PIVOT).floats({5, 5, 5})}),
             tag(Chunk3ds(NODE_HDR).name("C").u16(0).u16(0).u16(kNoParent), {}),
             tag(Chunk3ds(NODE_HDR).name("D").u16(0).u16(0).u16(2), {})});
    ASSERT_EQ(readBytes(file), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::DamagedChunksSkipped);
    ASSERT_EQ(keyframes->count, 4);
    EXPECT_STREQ(keyframes->nodes[0].name, "A");
    EXPECT_EQ(keyframes->nodes[0].pivot[0], 0.0f);
    EXPECT_STREQ(keyframes->nodes[1].name, "");
    EXPECT_EQ(keyframes->nodes[1].parentId, kNoParent);
    EXPECT_EQ(keyframes->nodes[1].pivot[0], 5.0f);
    EXPECT_EQ(keyframes->nodes[2].id, 2);
    EXPECT_STREQ(keyframes->nodes[2].name, "C");
    EXPECT_STREQ(keyframes->nodes[3].parentName, "C");
}

TEST_F(ReaderDamage, NonFiniteVerticesAreKeptAndReported) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ASSERT_EQ(readBytes(model3ds({meshObject("Spiky", {pointArray({0, 0, 0, nan, 1, 0, 0, 0, -HUGE_VALF})})})), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::DamagedChunksSkipped);
    ASSERT_EQ(meshes->records[0].vertexCount, 3);
    EXPECT_TRUE(std::isnan(meshes->records[0].vertices[3]));
    EXPECT_TRUE(std::isinf(meshes->records[0].vertices[8]));
    database.releaseDatabase();

    // Huge but finite coordinates are sound.
    ASSERT_NO_FATAL_FAILURE(read(model3ds({meshObject("Far", {pointArray({3e38f, -3e38f, 0})})})));
}

TEST_F(ReaderDamage, FramingDamageAfterLocalDamageEndsTheWalkAndSaysSo) {
    const Bytes damaged = model3ds({meshObject("Box", {Chunk3ds(POINT_FLAG_ARRAY)})});
    ASSERT_EQ(readBytes(concat(damaged, Chunk3ds(0x1234).length(3).bytes())), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::BadChunkLength);
    database.releaseDatabase();
    ASSERT_EQ(readBytes(Bytes(damaged.begin(), damaged.end() - 1)), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Truncated);
    database.releaseDatabase();
    // A chunk damaged inside whose own length runs past the file is framing damage.
    ASSERT_EQ(readBytes(concat(model3ds({meshObject("Box", {})}),
                               Chunk3ds(FACE_ARRAY).u16(500).u16(0).length(4000).bytes())),
              1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Truncated);
}

TEST_F(ReaderDamage, SegmentChunkTooShortForItsTwoFramesIsSkippedAlone) {
    ASSERT_EQ(readBytes(model3ds({}, {Chunk3ds(KFCURTIME).u32(7), Chunk3ds(KFSEG).u32(5), objectNode(0, "Kept", 0xFFFF)})),
              1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::DamagedChunksSkipped);
    EXPECT_EQ(keyframes->currentTime, 7u);
    EXPECT_EQ(keyframes->segmentStart, 0u);
    EXPECT_EQ(keyframes->segmentEnd, 0u);
    ASSERT_EQ(keyframes->count, 1);
    EXPECT_STREQ(keyframes->nodes[0].name, "Kept");
}

TEST_F(ReaderDamage, OverlongNamesAreCutAndTheirRestSkipped) {
    Chunk3ds material(MAT_ENTRY);
    material.add(Chunk3ds(MAT_NAME).name("AMaterialNameOfThirtyLetters"));
    // Map names keep 255 bytes.
    const std::string longMapName = std::string(250, 'm') + "_tail.jpeg";
    material.add(Chunk3ds(MAT_TEXMAP).add(Chunk3ds(MAT_MAPNAME).name(longMapName)));
    material.add(Chunk3ds(MAT_WIRESIZE).f32(4));
    Chunk3ds group(FACE_ARRAY);
    group.u16(0).add(Chunk3ds(MSH_MAT_GROUP).name("AMaterialNameOfThirtyLetters").u16(1).u16(0));
    // A descended chunk: the next header is read right after the name.
    Chunk3ds longObject(NAMED_OBJECT);
    longObject.name("AnObjectNameOfMoreThanTwentyBytes").add(Chunk3ds(N_TRI_OBJECT).add(group));
    ASSERT_EQ(readBytes(model3ds({material, longObject},
                            {objectNode(0, "NodeNameOfFifteen", 0xFFFF, {Chunk3ds(INSTANCE_NAME).name("InstanceTooLong")}),
                             objectNode(1, "Child", 0)})),
              1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    ASSERT_EQ(materials->count, 1);
    EXPECT_STREQ(materials->names[0], "AMaterialNameOfT");
    EXPECT_EQ(materials->records[0].textureMap.fileName, longMapName.substr(0, 255));
    EXPECT_EQ(materials->records[0].wireSize, 4.0f);
    ASSERT_EQ(meshes->count, 1);
    EXPECT_STREQ(meshes->names[0], "AnObjectNameOfMoreT");
    ASSERT_EQ(meshes->records[0].materialGroupCount, 1);
    EXPECT_STREQ(meshes->records[0].materialGroups[0].materialName, "AMaterialNameOfT");
    ASSERT_EQ(keyframes->count, 2);
    EXPECT_STREQ(keyframes->nodes[0].name, "NodeNameOf");
    EXPECT_STREQ(keyframes->nodes[0].instanceName, "InstanceTo");
    EXPECT_EQ(keyframes->nodes[0].parentId, 0xFFFF);
    EXPECT_STREQ(keyframes->nodes[1].parentName, "NodeNameOf.InstanceTo");
}

TEST_F(ReaderDamage, SubChunksWithNoRecordToWriteIntoAreSkipped) {
    Chunk3ds mdata(MDATA);
    mdata.add(points(2)).add(triangle()).add(Chunk3ds(MESH_MATRIX).floats({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    mdata.add(Chunk3ds(MAT_DIFFUSE).add(Chunk3ds(COLOR_24).u8(1).u8(2).u8(3)));
    mdata.add(Chunk3ds(MAT_TEXMAP).add(Chunk3ds(INT_PERCENTAGE).i16(5)).add(Chunk3ds(MAT_MAPNAME).name("X.JPG")));
    mdata.add(Chunk3ds(MAT_TWO_SIDE)).add(Chunk3ds(MAT_SHADING).u16(3));
    mdata.add(meshObject("Box", {}));
    // A colour and a percentage without target chunks of their own, in the
    // first material: they go where the chunks before any material pointed.
    mdata.add(material("Late", -1, {Chunk3ds(COLOR_24).u8(64).u8(64).u8(64), Chunk3ds(INT_PERCENTAGE).i16(50)}));
    Chunk3ds kfdata(KFDATA);
    kfdata.add(Chunk3ds(PIVOT).floats({1, 2, 3})).add(Chunk3ds(INSTANCE_NAME).name("I"));
    kfdata.add(track(POS_TRACK_TAG, 1, 3)).add(objectNode(0, "Box", 0xFFFF));
    Chunk3ds magic(M3DMAGIC);
    magic.add(mdata).add(kfdata);
    ASSERT_EQ(readBytes(magic.bytes()), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    ASSERT_EQ(meshes->count, 1);
    EXPECT_EQ(meshes->records[0].vertexCount, 0);
    EXPECT_EQ(meshes->records[0].faceCount, 0);
    EXPECT_EQ(meshes->records[0].materialGroupCount, 0);
    // The targets were still set: they belong to the walk, not to a record.
    ASSERT_EQ(materials->count, 1);
    const MaterialRecord& late = materials->records[0];
    EXPECT_EQ(late.diffuse[0], 0.25f);
    EXPECT_EQ(late.textureMap.percentage, 0.5f);
    EXPECT_STREQ(late.textureMap.fileName, "");
    EXPECT_EQ(late.twoSided, 0);
    EXPECT_EQ(late.shading, 1);
    ASSERT_EQ(keyframes->count, 1);
    EXPECT_EQ(keyframes->nodes[0].pivot[0], 0.0f);
    EXPECT_STREQ(keyframes->nodes[0].instanceName, "");
    EXPECT_EQ(keyframes->nodes[0].positionKeyCount, 0u);
}

TEST_F(ReaderDamage, IdsBetweenHandledIdsAreSkippedWithTheirPayload) {
    // Each payload would be damage, or would change the record, if the walk
    // took its id for one of its neighbours.
    Chunk3ds faces = faceArray({{0, 1, 2}}, {Chunk3ds(0x4131).u16(40000), Chunk3ds(0x4155).u32(9)});
    const Bytes file = model3ds(
        {material("Red", -1, {Chunk3ds(0xA001).u16(40000), Chunk3ds(0xA086).f32(9), Chunk3ds(0xA352).u16(0x11),
                              Chunk3ds(0x0020).u8(255).u8(255).u8(255)}),
         meshObject("Box", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}), Chunk3ds(0x4112).u16(40000),
                            Chunk3ds(0x4145).u16(9).u16(9), Chunk3ds(0x4161).floats({1, 2}), faces})},
        {objectNode(0, "Box", kNoParent, {Chunk3ds(0xB012).name("NotAnInstanceName"), Chunk3ds(0xB015).floats({1}),
                                          Chunk3ds(0xB023).u16(0).u32(0).u32(0).u32(0xFFFFFFFFu)})});
    ASSERT_EQ(readBytes(file), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    ASSERT_EQ(meshes->count, 1);
    const MeshRecord& mesh = meshes->records[0];
    EXPECT_EQ(mesh.vertexCount, 3);
    EXPECT_EQ(mesh.vertexFlagCount + mesh.texCoordCount + mesh.materialGroupCount, 0);
    EXPECT_EQ(mesh.faceCount, 1);
    EXPECT_EQ(mesh.smoothingGroups, nullptr);
    ASSERT_EQ(materials->count, 1);
    MaterialRecord fresh;
    initMaterialRecord(fresh, "Red");
    EXPECT_EQ(std::memcmp(&materials->records[0], &fresh, sizeof fresh), 0);
    ASSERT_EQ(keyframes->count, 1);
    EXPECT_STREQ(keyframes->nodes[0].instanceName, "");
    EXPECT_EQ(keyframes->nodes[0].boundingBox[0], 0.0f);
}

TEST_F(ReaderDamage, EveryChunkThatWritesIntoARecordIsSkippedBeforeThatRecordExists) {
    // Each alone in a file, with a payload its handler would accept: none may
    // reach a record that is not there, and none opens one.
    const uint16_t ids[] = {COLOR_F, COLOR_24, LIN_COLOR_24, LIN_COLOR_F, INT_PERCENTAGE, POINT_ARRAY,
                            POINT_FLAG_ARRAY, FACE_ARRAY, MSH_MAT_GROUP, TEX_VERTS, SMOOTH_GROUP, MESH_MATRIX,
                            MAT_SELF_ILLUM, MAT_TWO_SIDE, MAT_DECAL, MAT_ADDITIVE, MAT_WIRE, MAT_WIRESIZE,
                            MAT_FACEMAP, MAT_PHONGSOFT, MAT_WIREABS, MAT_SHADING, MAT_USE_XPFALL,
                            MAT_USE_REFBLUR, MAT_MAPNAME, MAT_MAP_TILING, MAT_MAP_TEXBLUR, MAT_MAP_USCALE,
                            MAT_MAP_VSCALE, MAT_MAP_UOFFSET, MAT_MAP_VOFFSET, MAT_MAP_ANG, INSTANCE_NAME,
                            PIVOT, BOUNDBOX, POS_TRACK_TAG, ROT_TRACK_TAG, SCL_TRACK_TAG};
    for (uint16_t id : ids) {
        SCOPED_TRACE(id);
        // Small counts and names, then plenty of room for what they promise.
        Chunk3ds chunk(id);
        chunk.u8('M').u8(0).u8(1).u8(0);
        for (int i = 0; i < 16; ++i) chunk.f32(0.5f);
        // After a target chunk, so colour, percentage and map chunks have somewhere to go.
        ASSERT_EQ(readBytes(model3ds({Chunk3ds(MAT_TEXMAP), Chunk3ds(MAT_DIFFUSE), chunk})), 1);
        EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
        EXPECT_EQ(meshes->count + materials->count + keyframes->count, 0);
        database.releaseDatabase();
    }
}

TEST_F(ReaderDamage, RepeatedChunksReplaceTheirArraysWithoutLeaking) {
    Chunk3ds faces(FACE_ARRAY);
    faces.u16(2).u16(0).u16(1).u16(2).u16(0).u16(2).u16(1).u16(0).u16(0);
    faces.add(Chunk3ds(SMOOTH_GROUP).u32(1).u32(2)).add(Chunk3ds(SMOOTH_GROUP).u32(4).u32(8));
    Chunk3ds node = objectNode(0, "Box", 0xFFFF, {track(POS_TRACK_TAG, 3, 3), track(POS_TRACK_TAG, 1, 3),
                                                  track(ROT_TRACK_TAG, 2, 4), track(ROT_TRACK_TAG, 1, 4),
                                                  track(SCL_TRACK_TAG, 2, 3), track(SCL_TRACK_TAG, 1, 3)});
    ASSERT_EQ(readBytes(model3ds({meshObject("Box", {points(3), points(4), Chunk3ds(POINT_FLAG_ARRAY).u16(1).u16(1),
                                            Chunk3ds(POINT_FLAG_ARRAY).u16(2).u16(5).u16(6),
                                            Chunk3ds(TEX_VERTS).u16(1).floats({1, 1}),
                                            Chunk3ds(TEX_VERTS).u16(2).floats({0.5f, 0.5f, 2, 2}), triangle(), faces}),
                             meshObject("Second", {triangle(), Chunk3ds(FACE_ARRAY).u16(0)})},
                            {node})),
              1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    const MeshRecord& mesh = meshes->records[0];
    EXPECT_EQ(mesh.vertexCount, 4);
    EXPECT_EQ(mesh.vertices[11], 11.0f);
    EXPECT_EQ(mesh.vertexFlagCount, 2);
    EXPECT_EQ(mesh.vertexFlags[1], 6);
    EXPECT_EQ(mesh.texCoordCount, 2);
    EXPECT_EQ(mesh.texCoords[3], 2.0f);
    ASSERT_EQ(mesh.faceCount, 2);
    EXPECT_EQ(mesh.smoothingGroups[1], 8u);
    // The first face array's group stays; groups are appended, not replaced.
    EXPECT_EQ(mesh.materialGroupCount, 1);
    // A later face array drops the smoothing masks that counted the faces before it.
    EXPECT_EQ(meshes->records[1].faceCount, 0);
    EXPECT_EQ(meshes->records[1].smoothingGroups, nullptr);
    const KeyframeNode& n = keyframes->nodes[0];
    EXPECT_EQ(n.positionKeyCount, 1u);
    EXPECT_EQ(n.rotationKeyCount, 1u);
    EXPECT_EQ(n.scaleKeyCount, 1u);
}

TEST_F(ReaderDamage, TriObjectWithoutNamedObjectGetsAnEmptyName) {
    ASSERT_EQ(readBytes(model3ds({Chunk3ds(N_TRI_OBJECT).add(points(1))})), 1);
    ASSERT_EQ(meshes->count, 1);
    EXPECT_STREQ(meshes->names[0], "");
    EXPECT_EQ(meshes->records[0].vertexCount, 1);
}

TEST_F(ReaderDamage, NameCutByTheChunkEndEndsThere) {
    Chunk3ds name(MAT_NAME);
    name.u8('A').u8('B');  // no zero byte
    ASSERT_EQ(readBytes(model3ds({Chunk3ds(MAT_ENTRY).add(name).add(Chunk3ds(MAT_TWO_SIDE))})), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    ASSERT_EQ(materials->count, 1);
    EXPECT_STREQ(materials->names[0], "AB");
    EXPECT_EQ(materials->records[0].twoSided, 1);
}

TEST_F(ReaderDamage, FailedAllocationFreesEverythingAndFails) {
    const std::string path = writeScratchFile("rich.3ds", richModel());
    long failAfter = 0;
    for (;; ++failAfter) {
        int result;
        {
            FailingAllocations failing(failAfter);
            result = database.readDatabase(path.c_str());
        }
        if (result == 1) break;
        EXPECT_EQ(database.meshList().records, nullptr);
        EXPECT_EQ(database.materialList().records, nullptr);
        EXPECT_EQ(database.keyframeList().nodes, nullptr);
        // Releasing after the failed read does nothing.
        database.releaseDatabase();
    }
    // Every list, record, name array and per-record array comes from an allocation.
    EXPECT_GT(failAfter, 20);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
}

TEST_F(ReaderDamage, EmptyOrMissingFileNameCreatesNothing) {
    EXPECT_EQ(database.readDatabase(""), 0);
    EXPECT_EQ(database.readDatabase((scratchDirectory() + "/absent.3ds").c_str()), 0);
    EXPECT_EQ(database.meshList().count, 0u);
    database.releaseDatabase();
    database.releaseDatabase();
}

TEST_F(ReaderDamage, FilesCanBeReadOneAfterAnotherInOneProcess) {
    const std::string first = writeScratchFile("first.3ds", model3ds({meshObject("One", {points(2)})}));
    const std::string second = writeScratchFile("second.3ds", richModel());
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(database.readDatabase(first.c_str()), 1);
        ASSERT_EQ(database.meshList().count, 1u);
        database.releaseDatabase();
        EXPECT_EQ(database.meshList().count, 0u);
        // A read without a release before it replaces the model.
        ASSERT_EQ(database.readDatabase(second.c_str()), 1);
        ASSERT_EQ(database.readDatabase(first.c_str()), 1);
        EXPECT_STREQ(database.meshList().names[0], "One");
        database.releaseDatabase();
    }
}

// Inputs the fuzzer found, each named after what it broke; they must read
// without a crash, an overread or a leak.
TEST_F(ReaderDamage, FuzzRegressionsReadCleanly) {
    const std::filesystem::path folder = std::filesystem::path(KESTRAV_REGRESSIONS);
    ASSERT_TRUE(std::filesystem::is_directory(folder)) << folder;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() != ".3ds") continue;
        SCOPED_TRACE(entry.path().filename().string());
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(readBytes(bytes), 1);
        database.releaseDatabase();
    }
}

}  // namespace
