// The lookups the converter and the transform builder make, over models read
// from files built in the test, and the release of the model.

#include <gtest/gtest.h>

#include <cstring>

#include "reader/ModelDatabase.h"
#include "reader/ModelLists.h"
#include "tests/support/SceneFixture.h"

namespace {

class ReaderQuery : public testing::Test {
protected:
    void TearDown() override { database.releaseDatabase(); }

    void read(const Bytes& file) {
        const std::string path = writeScratchFile("query.3ds", file);
        ASSERT_EQ(database.readDatabase(path.c_str()), 1);
        ASSERT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
        database.getKeyframeList(keyframes);
    }

    ModelDatabase database;
    KeyframeList* keyframes = nullptr;
};

Chunk3ds object(const char* name, uint16_t vertices) {
    Chunk3ds points(POINT_ARRAY);
    points.u16(vertices);
    for (int i = 0; i < vertices * 3; ++i) points.f32(0);
    Chunk3ds chunk(NAMED_OBJECT);
    chunk.name(name).add(Chunk3ds(N_TRI_OBJECT).add(points));
    return chunk;
}

Chunk3ds material(const char* name, uint16_t shading) {
    Chunk3ds chunk(MAT_ENTRY);
    chunk.add(Chunk3ds(MAT_NAME).name(name)).add(Chunk3ds(MAT_SHADING).u16(shading));
    return chunk;
}

Chunk3ds node(uint16_t id, const char* name, const char* instance = "") {
    Chunk3ds tag(OBJECT_NODE_TAG);
    tag.add(Chunk3ds(NODE_ID).u16(id)).add(Chunk3ds(NODE_HDR).name(name).u16(0).u16(0).u16(0xFFFF));
    if (instance[0]) tag.add(Chunk3ds(INSTANCE_NAME).name(instance));
    return tag;
}

TEST_F(ReaderQuery, FindMeshAndFindMaterialReturnTheFirstOfAName) {
    read(model3ds({material("Red", 1), material("Blue", 2), material("Red", 3), object("Box", 1), object("Ball", 2),
                   object("Box", 3)}));
    MeshRecord* mesh = nullptr;
    database.findMesh("Box", mesh);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertexCount, 1);
    database.findMesh("Ball", mesh);
    ASSERT_NE(mesh, nullptr);
    EXPECT_EQ(mesh->vertexCount, 2);
    database.findMesh("box", mesh);
    EXPECT_EQ(mesh, nullptr);

    MaterialRecord* found = nullptr;
    database.findMaterial("Red", found);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->shading, 1);
    database.findMaterial("Blue", found);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->shading, 2);
    // A miss stores none, whatever the out variable held.
    database.findMaterial("Green", found);
    EXPECT_EQ(found, nullptr);
    database.findMaterial("", found);
    EXPECT_EQ(found, nullptr);
}

TEST_F(ReaderQuery, InstancesAreFoundByPositionAndByFullName) {
    read(model3ds({object("Box", 1)}, {node(0, "Box", "A"), node(1, "Ball"), node(2, "Box", "B")}));
    EXPECT_EQ(database.countNodes("Box"), 2);
    EXPECT_EQ(database.countNodes("Ball"), 1);
    EXPECT_EQ(database.countNodes("Box.A"), 0);
    KeyframeNode* found = nullptr;
    database.findNode("Box", 0, found);
    EXPECT_EQ(found, &keyframes->nodes[0]);
    database.findNode("Box", 1, found);
    EXPECT_EQ(found, &keyframes->nodes[2]);
    // Past the last instance findNode falls back to lookupNode, which finds no
    // plain "Box": both have instance names.
    database.findNode("Box", 2, found);
    EXPECT_EQ(found, nullptr);
    database.lookupNode("Box.B", found);
    EXPECT_EQ(found, &keyframes->nodes[2]);
    database.lookupNode("Box", found);
    EXPECT_EQ(found, nullptr);
    database.lookupNode("Ball", found);
    EXPECT_EQ(found, &keyframes->nodes[1]);
    database.lookupNode("Ball.", found);
    EXPECT_EQ(found, nullptr);
}

TEST_F(ReaderQuery, FindNodeFallsBackToTheFullName) {
    // A mesh whose name holds a dot has no node of its plain name, but the
    // fallback finds the instance whose full name it is.
    read(model3ds({object("Box.A", 1)}, {node(0, "Box", "A")}));
    EXPECT_EQ(database.countNodes("Box.A"), 0);
    KeyframeNode* found = nullptr;
    database.findNode("Box.A", 0, found);
    EXPECT_EQ(found, &keyframes->nodes[0]);
}

TEST_F(ReaderQuery, DummiesAreFoundOnlyWithTheirInstanceName) {
    read(model3ds({}, {node(0, "$$$DUMMY", "D1"), node(1, "$$$DUMMY"), node(2, "Box")}));
    KeyframeNode* found = nullptr;
    database.lookupNode("$$$DUMMY.D1", found);
    EXPECT_EQ(found, &keyframes->nodes[0]);
    database.lookupNode("$$$DUMMY", found);
    EXPECT_EQ(found, nullptr);
    // A dummy without an instance name answers to its name and a dot.
    database.lookupNode("$$$DUMMY.", found);
    EXPECT_EQ(found, &keyframes->nodes[1]);
    EXPECT_EQ(database.countNodes("$$$DUMMY"), 2);
    database.lookupNode("Box", found);
    EXPECT_EQ(found, &keyframes->nodes[2]);
}

TEST_F(ReaderQuery, ReleaseFreesTheListsAndQueriesThenFindNothing) {
    read(model3ds({material("Red", 1), object("Box", 1)}, {node(0, "Box")}));
    database.releaseDatabase();
    MeshList* meshes = reinterpret_cast<MeshList*>(1);
    database.getMeshList(meshes);
    EXPECT_EQ(meshes, nullptr);
    MeshRecord* mesh = reinterpret_cast<MeshRecord*>(1);
    database.findMesh("Box", mesh);
    EXPECT_EQ(mesh, nullptr);
    MaterialRecord* found = reinterpret_cast<MaterialRecord*>(1);
    database.findMaterial("Red", found);
    EXPECT_EQ(found, nullptr);
    KeyframeNode* node = reinterpret_cast<KeyframeNode*>(1);
    database.findNode("Box", 0, node);
    EXPECT_EQ(node, nullptr);
    EXPECT_EQ(database.countNodes("Box"), 0);
    database.releaseDatabase();
}

TEST_F(ReaderQuery, RecordsMadeByHandStartLikeRecordsReadFromAFile) {
    read(model3ds({object("Box", 0)}, {node(0xFFFF, "Box")}));
    MeshRecord* mesh = nullptr;
    database.findMesh("Box", mesh);
    ASSERT_NE(mesh, nullptr);
    MeshRecord expectedMesh;
    initMeshRecord(expectedMesh, "Box");
    EXPECT_EQ(std::memcmp(mesh, &expectedMesh, sizeof expectedMesh), 0);

    KeyframeNode expectedNode;
    initKeyframeNode(expectedNode);
    EXPECT_EQ(expectedNode.id, 0xFFFF);
    EXPECT_EQ(expectedNode.parentId, 0xFFFF);
    std::memcpy(expectedNode.name, "Box", 4);
    EXPECT_EQ(std::memcmp(&keyframes->nodes[0], &expectedNode, sizeof expectedNode), 0);
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
