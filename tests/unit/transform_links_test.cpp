// The links the converter resolves once after the walk: which mesh each
// instance draws, and the chain of parents each node is placed below.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/ModelReadTest.h"
#include "transform/ModelLinks.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

using ModelLinksTest = ModelReadTest;

Chunk3ds node(uint16_t id, const char* name, const char* instance = "") {
    Chunk3ds tag = objectNode(id, name, kNoParent);
    if (instance[0]) tag.add(Chunk3ds(INSTANCE_NAME).name(instance));
    return tag;
}

// The chain as node indices.
std::vector<size_t> indices(const NodeChain& chain, const KeyframeList* keyframes) {
    std::vector<size_t> out;
    for (const LinkedNode* n : chain) out.push_back(size_t(n->record - keyframes->nodes));
    return out;
}

TEST_F(ModelLinksTest, InstancesFollowTheMeshesAndANameTwiceDrawsItsFirstMesh) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds(
        {meshObject("Box", {}), meshObject("Ball", {}), meshObject("Box", {}), meshObject("Cone", {})},
        {node(0, "Box", "A"), node(1, "Ball"), node(2, "Box", "B")})));
    const ModelLinks links(*meshes, *keyframes);
    std::vector<std::pair<size_t, size_t>> got;
    for (const MeshInstance& i : links.instances()) got.emplace_back(i.mesh, i.node);
    const std::vector<std::pair<size_t, size_t>> want = {{0, 0}, {0, 2}, {1, 1}, {0, 0}, {0, 2}, {3, kNoNode}};
    EXPECT_EQ(got, want);
    EXPECT_TRUE(links.chainOf(kNoNode).empty());
}

TEST_F(ModelLinksTest, ParentsAreFoundByFullNameAndDummiesOnlyByTheirDottedName) {
    ASSERT_NO_FATAL_FAILURE(read(model3ds(
        {}, {node(0, "$$$DUMMY", "D1"), node(1, "Plain"), node(2, "$$$DUMMY"), node(3, "Arm"), node(4, "Leg"),
             node(5, "Hand"), node(6, "Foot"), node(7, "Toe"), node(8, "Box", "A"), node(9, "Lid"), node(10, "Hinge")})));
    std::strcpy(keyframes->nodes[3].parentName, "$$$DUMMY.D1");
    std::strcpy(keyframes->nodes[4].parentName, "$$$DUMMY.");  // the dummy without an instance name
    std::strcpy(keyframes->nodes[5].parentName, "Arm");
    std::strcpy(keyframes->nodes[6].parentName, "$$$DUMMY");  // no dummy is named without its dot
    std::strcpy(keyframes->nodes[7].parentName, "Plain.");    // only dummies match with the dot
    std::strcpy(keyframes->nodes[9].parentName, "Box");       // a node with an instance name answers...
    std::strcpy(keyframes->nodes[10].parentName, "Box.A");    // ...to its full name only
    const ModelLinks links(*meshes, *keyframes);
    EXPECT_EQ(indices(links.chainOf(5), keyframes), (std::vector<size_t>{5, 3, 0}));
    EXPECT_EQ(indices(links.chainOf(4), keyframes), (std::vector<size_t>{4, 2}));
    EXPECT_EQ(indices(links.chainOf(6), keyframes), (std::vector<size_t>{6}));
    EXPECT_EQ(indices(links.chainOf(7), keyframes), (std::vector<size_t>{7}));
    EXPECT_EQ(indices(links.chainOf(9), keyframes), (std::vector<size_t>{9}));
    EXPECT_EQ(indices(links.chainOf(10), keyframes), (std::vector<size_t>{10, 8}));
}

}  // namespace
