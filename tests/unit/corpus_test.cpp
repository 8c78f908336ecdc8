// The real models of the corpus, written by other programs: each reads to its
// end and converts into one object separator per mesh instance holding one
// material separator per material group. The counts were taken by hand from a
// chunk dump of each file.

#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "reader/ModelDatabase.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"

using namespace kestrav;

namespace {

struct CorpusModel {
    const char* file;
    int meshes;
    int materials;
    int nodes;
    // Material separators of each object separator, in scene order.
    std::vector<int> materialSeparators;
};

const CorpusModel kModels[] = {
    {"test1.3ds", 9, 3, 9, {1, 1, 1, 1, 1, 1, 1, 1, 1}},
    {"cubes_with_alpha.3DS", 5, 5, 5, {1, 1, 1, 1, 1}},
    {"cube_with_diffuse_texture.3DS", 1, 1, 1, {1}},
    {"cube_with_specular_texture.3DS", 1, 1, 1, {1}},
    // One box without material groups and one node.
    {"RotatingCube.3DS", 1, 0, 1, {1}},
    // A box and a camera: the camera's object makes no mesh, but its camera and
    // target nodes are in the keyframer list.
    {"CameraRollAnim.3ds", 1, 0, 3, {1}},
    {"TargetCameraAnim.3ds", 1, 0, 3, {1}},
    {"CameraRollAnimWithChildObject.3ds", 2, 0, 4, {1, 1}},
    // No keyframer section: the mesh is converted once, without a node.
    {"fels.3ds", 1, 1, 0, {1}},
};

// How many keyframer nodes carry the name, instance names aside.
size_t nodesNamed(const KeyframeList& keyframes, const char* name) {
    size_t count = 0;
    for (size_t i = 0; i < keyframes.count; ++i) count += std::strcmp(keyframes.nodes[i].name, name) == 0;
    return count;
}

class Corpus : public ModelReadTest {
protected:
    void SetUp() override { ASSERT_TRUE(corpusIsThere()); }
    void readModel(const std::string& file) { ASSERT_EQ(readFile(corpusPath(file)), 1) << file; }
};

int separatorChildren(SoSeparator* group) {
    int count = 0;
    for (int i = 0; i < group->getNumChildren(); ++i)
        if (group->getChild(i)->isOfType(SoSeparator::getClassTypeId())) ++count;
    return count;
}

TEST_F(Corpus, EveryModelOfTheFolderIsListedHere) {
    std::set<std::string> listed;
    for (const CorpusModel& model : kModels) listed.insert(model.file);
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpusFolder())) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension != ".3ds") continue;
        ++found;
        EXPECT_EQ(listed.count(entry.path().filename().string()), 1u) << entry.path();
    }
    EXPECT_EQ(found, int(std::size(kModels)));
}

TEST_F(Corpus, EveryModelReadsToItsEndWithTheCountsOfItsChunks) {
    for (const CorpusModel& model : kModels) {
        SCOPED_TRACE(model.file);
        ASSERT_NO_FATAL_FAILURE(readModel(model.file));
        EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
        EXPECT_EQ(meshes->count, model.meshes);
        EXPECT_EQ(materials->count, model.materials);
        EXPECT_EQ(keyframes->count, model.nodes);
        database.releaseDatabase();
    }
}

TEST_F(Corpus, EveryModelConvertsIntoItsSeparatorStructure) {
    for (const CorpusModel& model : kModels) {
        SCOPED_TRACE(model.file);
        ConverterOptions options;
        options.outputPath = scratchDirectory() + "/" + model.file + ".iv";
        const ConvertedScene scene = convertFile(corpusPath(model.file), options);
        ASSERT_NE(scene.root, nullptr);
        ASSERT_EQ(scene.root->getNumChildren(), int(model.materialSeparators.size()));
        for (size_t i = 0; i < model.materialSeparators.size(); ++i) {
            SoSeparator* object = childAs<SoSeparator>(scene.root, int(i));
            ASSERT_NE(object, nullptr) << "object separator " << i;
            EXPECT_EQ(separatorChildren(object), model.materialSeparators[i]) << "object separator " << i;
        }
    }
}

TEST_F(Corpus, FelsKeepsItsFacesAfterAVertexFlagChunkLongerThanItsCount) {
    // The 0x4111 chunk says 7 flags and holds 386; the walk goes on at its end.
    ASSERT_NO_FATAL_FAILURE(readModel("fels.3ds"));
    ASSERT_EQ(meshes->count, 1);
    const MeshRecord& rock = meshes->records[0];
    EXPECT_STREQ(rock.name, "Default");
    EXPECT_EQ(rock.vertexCount, 386);
    EXPECT_EQ(rock.vertexFlagCount, 7);
    EXPECT_EQ(rock.faceCount, 768);
    EXPECT_EQ(rock.smoothingGroups, nullptr);
    ASSERT_EQ(rock.materialGroupCount, 1);
    EXPECT_STREQ(rock.materialGroups[0].materialName, "Default");
    EXPECT_EQ(rock.materialGroups[0].faceCount, 768);
    const MaterialRecord& stone = materials->records[0];
    EXPECT_EQ(stone.diffuse[0], 200 / 256.0f);
    EXPECT_EQ(stone.shininess, 0.4f);
}

TEST_F(Corpus, Test1HasNineBoxesWithTheirNodesAndTexturedMaterials) {
    ASSERT_NO_FATAL_FAILURE(readModel("test1.3ds"));
    const char* names[] = {"Box01", "Box02", "Box04", "Box05", "Box06", "Box07", "Box08", "Box09", "Box10"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_STREQ(meshes->names[i], names[i]);
        EXPECT_EQ(meshes->records[i].vertexCount, 32);
        EXPECT_EQ(meshes->records[i].texCoordCount, 32);
        EXPECT_EQ(meshes->records[i].faceCount, 12);
        EXPECT_NE(meshes->records[i].smoothingGroups, nullptr);
        EXPECT_EQ(nodesNamed(*keyframes, names[i]), 1u);
        EXPECT_EQ(keyframes->nodes[i].id, i);
        EXPECT_EQ(keyframes->nodes[i].rotationKeyCount, 1u);
    }
    EXPECT_STREQ(meshes->records[0].materialGroups[0].materialName, "2 - Default");
    const MaterialRecord* material = database.findMaterial("1 - Default");
    ASSERT_NE(material, nullptr);
    EXPECT_STREQ(material->textureMap.fileName, "CWALL02.JPG");
    EXPECT_EQ(material->textureMap.percentage, 1.0f);
    EXPECT_EQ(material->textureMap.tilingMode, 0);
    EXPECT_EQ(material->diffuse[1], 150 / 256.0f);
    EXPECT_EQ(material->specular[2], 229 / 256.0f);
    EXPECT_EQ(material->shininess, 0.1f);
}

TEST_F(Corpus, ChildObjectNamesTheCameraNodeAsItsParent) {
    ASSERT_NO_FATAL_FAILURE(readModel("CameraRollAnimWithChildObject.3ds"));
    ASSERT_EQ(keyframes->count, 4);
    const KeyframeNode& child = keyframes->nodes[2];
    EXPECT_STREQ(child.name, "Box02");
    EXPECT_EQ(child.parentId, 1);
    EXPECT_STREQ(child.parentName, "Camera01");
    EXPECT_EQ(child.positionKeyCount, 119u);
    EXPECT_EQ(child.rotationKeyCount, 2u);
    EXPECT_EQ(nodesNamed(*keyframes, "Camera01"), 2u);
    EXPECT_EQ(nodesNamed(*keyframes, "Box01"), 1u);
}

TEST_F(Corpus, RotatingCubeHasItsWholeRotationTrack) {
    ASSERT_NO_FATAL_FAILURE(readModel("RotatingCube.3DS"));
    ASSERT_EQ(keyframes->count, 1);
    EXPECT_EQ(keyframes->nodes[0].rotationKeyCount, 182u);
    EXPECT_EQ(meshes->records[0].materialGroupCount, 0);
}

TEST_F(Corpus, CubesWithAlphaReadTheirTransparency) {
    ASSERT_NO_FATAL_FAILURE(readModel("cubes_with_alpha.3DS"));
    const MaterialRecord* material = database.findMaterial("Transparent");
    ASSERT_NE(material, nullptr);
    EXPECT_EQ(material->transparency, 0.17f);
    material = database.findMaterial("01 - Default");
    ASSERT_NE(material, nullptr);
    EXPECT_STREQ(material->textureMap.fileName, "BERETTA_.JPG");
}

}  // namespace
