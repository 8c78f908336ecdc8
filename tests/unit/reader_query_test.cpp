// The lookups the converter makes in a model read from a file built in the
// test, the records as a read leaves them, and the release of the model. How
// instances and parents are found is in the links' tests.

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "reader/ModelDatabase.h"
#include "reader/ModelLists.h"
#include "tests/support/FailingAllocations.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

using ReaderQuery = ModelReadTest;

// A mesh of the given number of vertices at the origin.
Chunk3ds object(const char* name, uint16_t vertices) {
    return meshObject(name, {pointArray(std::vector<float>(size_t(vertices) * 3, 0.0f))});
}

Chunk3ds node(uint16_t id, const char* name, const char* instance = "") {
    Chunk3ds tag = objectNode(id, name, kNoParent);
    if (instance[0]) tag.add(Chunk3ds(INSTANCE_NAME).name(instance));
    return tag;
}

TEST_F(ReaderQuery, FindMaterialReturnsTheFirstOfAName) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("Red", 1), material("Blue", 2), material("Red", 3)})));
    const MaterialRecord* found = database.findMaterial("Red");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->shading, 1);
    found = database.findMaterial("Blue");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->shading, 2);
    EXPECT_EQ(database.findMaterial("red"), nullptr);
    EXPECT_EQ(database.findMaterial("Green"), nullptr);
    EXPECT_EQ(database.findMaterial(""), nullptr);
}

TEST_F(ReaderQuery, ReleaseFreesTheListsAndQueriesThenFindNothing) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({material("Red", 1), object("Box", 1)}, {node(0, "Box")})));
    database.releaseDatabase();
    EXPECT_EQ(database.meshList().count, 0u);
    EXPECT_EQ(database.meshList().records, nullptr);
    EXPECT_EQ(database.keyframeList().count, 0u);
    EXPECT_EQ(database.keyframeList().nodes, nullptr);
    EXPECT_EQ(database.findMaterial("Red"), nullptr);
    database.releaseDatabase();
}

TEST_F(ReaderQuery, RecordsMadeByHandStartLikeRecordsReadFromAFile) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds({object("Box", 0)}, {node(0xFFFF, "Box")})));
    ASSERT_EQ(meshes->count, 1u);
    const MeshRecord* mesh = &meshes->records[0];
    MeshRecord expectedMesh;
    initMeshRecord(expectedMesh, "Box");
    EXPECT_EQ(std::memcmp(mesh, &expectedMesh, sizeof expectedMesh), 0);

    KeyframeNode expectedNode;
    initKeyframeNode(expectedNode);
    EXPECT_EQ(expectedNode.id, 0xFFFF);
    EXPECT_EQ(expectedNode.parentId, 0xFFFF);
    std::memcpy(expectedNode.name, "Box", 4);
    // The one field the file sets beyond the name: the chunk that holds the node.
    expectedNode.tag = OBJECT_NODE_TAG;
    EXPECT_EQ(std::memcmp(&keyframes->nodes[0], &expectedNode, sizeof expectedNode), 0);
}

// The first mesh of the model, after checking its name.
const MeshRecord* firstMesh(const ModelDatabase& database, const char* name) {
    const MeshList& meshes = database.meshList();
    return meshes.count > 0 && std::strcmp(meshes.names[0], name) == 0 ? &meshes.records[0] : nullptr;
}

// What model A holds: a material, a mesh of three vertices and its node.
void expectModelA(const ModelDatabase& database) {
    ASSERT_EQ(database.meshList().count, 1u);
    const MeshRecord* box = firstMesh(database, "Box");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->vertexCount, 3);
    const MaterialRecord* red = database.findMaterial("Red");
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->shading, 1);
    ASSERT_EQ(database.keyframeList().count, 1u);
    EXPECT_STREQ(database.keyframeList().nodes[0].name, "Box");
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
}

// What model B holds: two meshes, no material, two nodes, one with an
// instance name; the file ends inside a chunk.
void expectModelB(const ModelDatabase& database) {
    ASSERT_EQ(database.meshList().count, 2u);
    const MeshRecord* ball = firstMesh(database, "Ball");
    ASSERT_NE(ball, nullptr);
    EXPECT_EQ(ball->vertexCount, 5);
    EXPECT_EQ(database.materialList().count, 0u);
    ASSERT_EQ(database.keyframeList().count, 2u);
    const KeyframeNode& cone = database.keyframeList().nodes[1];
    EXPECT_STREQ(cone.name, "Cone");
    EXPECT_STREQ(cone.instanceName, "X");
    EXPECT_EQ(cone.id, 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Truncated);
}

TEST(ReaderDatabases, TwoDatabasesHoldTwoModelsAndEachReadReplacesOnlyItsOwn) {
    const std::string a = writeScratchFile("model-a.3ds", model3ds({material("Red", 1), object("Box", 3)}, {node(0, "Box")}));
    Bytes bytesB = model3ds({object("Ball", 5), object("Cone", 2)}, {node(0, "Ball"), node(1, "Cone", "X")});
    bytesB.insert(bytesB.end(), {0x4D, 0x4D, 0});
    const std::string b = writeScratchFile("model-b.3ds", bytesB);

    ModelDatabase first, second;
    ASSERT_EQ(first.readDatabase(a.c_str()), 1);
    ASSERT_EQ(second.readDatabase(b.c_str()), 1);
    ASSERT_NO_FATAL_FAILURE(expectModelA(first));
    ASSERT_NO_FATAL_FAILURE(expectModelB(second));
    const MeshRecord* firstBox = firstMesh(first, "Box");

    // A into the second replaces B there; the first keeps its own records.
    ASSERT_EQ(second.readDatabase(a.c_str()), 1);
    ASSERT_NO_FATAL_FAILURE(expectModelA(second));
    ASSERT_NO_FATAL_FAILURE(expectModelA(first));
    EXPECT_EQ(firstMesh(first, "Box"), firstBox);
    EXPECT_NE(firstMesh(second, "Box"), firstBox);

    ASSERT_EQ(first.readDatabase(b.c_str()), 1);
    ASSERT_NO_FATAL_FAILURE(expectModelB(first));
    ASSERT_NO_FATAL_FAILURE(expectModelA(second));

    // A read that runs out of memory costs only its own database.
    EXPECT_EQ(second.readDatabase(b.c_str()), 1);
    {
        FailingAllocations failing(0);
        EXPECT_EQ(first.readDatabase(a.c_str()), 0);
    }
    ASSERT_NO_FATAL_FAILURE(expectModelB(second));

    // Releasing one leaves the other.
    ASSERT_EQ(first.readDatabase(a.c_str()), 1);
    second.releaseDatabase();
    EXPECT_EQ(second.meshList().count, 0u);
    ASSERT_NO_FATAL_FAILURE(expectModelA(first));
}

TEST(ReaderDatabases, DestroyingADatabaseFreesItsModelAndLeavesTheOthers) {
    // Run under the sanitizers, a model the destructor did not free leaks.
    const std::string a = writeScratchFile("model-a.3ds", model3ds({material("Red", 1), object("Box", 3)}, {node(0, "Box")}));
    ModelDatabase kept;
    ASSERT_EQ(kept.readDatabase(a.c_str()), 1);
    {
        ModelDatabase dropped;
        ASSERT_EQ(dropped.readDatabase(a.c_str()), 1);
    }
    ASSERT_NO_FATAL_FAILURE(expectModelA(kept));
}

TEST(ReaderDatabases, CamerasLightsAndTheirDamageBelongToTheirOwnDatabase) {
    const std::string lit = writeScratchFile(
        "model-lit.3ds",
        model3ds({Chunk3ds(AMBIENT_LIGHT).add(Chunk3ds(COLOR_F).floats({0.1f, 0.2f, 0.3f})),
                  namedObject("Cam", {camera({0, 0, 0}, {0, 5, 0}, 0, 35)}),
                  namedObject("Broken", {Chunk3ds(N_CAMERA).floats({1, 2, 3})}),
                  namedObject("Omni", {omniLight({1, 2, 3})})},
                 {keyframerNode(CAMERA_NODE_TAG, 0, "Cam", kNoParent)}));
    const std::string plain = writeScratchFile("model-plain.3ds", model3ds({object("Box", 3)}, {node(0, "Box")}));

    ModelDatabase first, second;
    ASSERT_EQ(first.readDatabase(lit.c_str()), 1);
    ASSERT_EQ(second.readDatabase(plain.c_str()), 1);
    const LightingList* ofFirst = &first.lightingList();
    const LightingList* ofSecond = &second.lightingList();
    EXPECT_EQ(ofFirst->cameraCount, 1u);
    EXPECT_EQ(ofFirst->lightCount, 1u);
    EXPECT_TRUE(ofFirst->hasAmbient);
    EXPECT_TRUE(ofFirst->damaged);
    EXPECT_EQ(ofSecond->cameraCount + ofSecond->lightCount + ofSecond->hasAmbient + ofSecond->damaged, 0u);
    EXPECT_NE(first.findTaggedNode("Cam", CAMERA_NODE_TAG), nullptr);
    EXPECT_EQ(second.findTaggedNode("Cam", CAMERA_NODE_TAG), nullptr);

    // A read replaces the cameras and lights before it, damage included.
    ASSERT_EQ(first.readDatabase(plain.c_str()), 1);
    EXPECT_EQ(ofFirst->cameraCount + ofFirst->lightCount + ofFirst->hasAmbient + ofFirst->damaged, 0u);
    first.releaseDatabase();
    EXPECT_EQ(ofFirst->lights, nullptr);
}

TEST_F(ReaderQuery, FullNameJoinsNameAndInstanceName) {
    KeyframeNode node;
    initKeyframeNode(node);
    char full[kFullNameSize];
    std::strcpy(node.name, "Box");
    fullName(node, full);
    EXPECT_STREQ(full, "Box");
    std::strcpy(node.name, "ABCDEFGHIJ");
    std::strcpy(node.instanceName, "KLMNOPQRST");
    fullName(node, full);
    EXPECT_STREQ(full, "ABCDEFGHIJ.KLMNOPQRST");
}

}  // namespace
