#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "appearance/TextureArchive.h"
#include "appearance/TextureLookup.h"
#include "tests/support/SceneFixture.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

// game/units/<name>/unit.3ds, as an archive lays them out.
class TextureArchiveTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        root = fs::canonical(scratchDirectory()) / ("archive-" + test);
        fs::create_directories(root / "game/units/tank");
    }
    void file(const std::string& relative) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << "image";
    }
    std::string at(const std::string& relative) const { return (root / relative).string(); }
    std::string find(const std::string& name) const {
        const TextureArchive archive({at("game")});
        return archive.find(at("game/units/tank"), name);
    }

    fs::path root;
};

TEST_F(TextureArchiveTest, NearestFolderFirstFromTheParentUpToTheTop) {
    file("game/textures/CAMO.JPG");
    EXPECT_EQ(find("camo.jpg"), at("game/textures/CAMO.JPG"));
    file("game/units/shared/deep/camo.jpg");
    EXPECT_EQ(find("camo.jpg"), at("game/units/shared/deep/camo.jpg")) << "below the parent before the grandparent";
    file("game/units/jeep/camo.jpg");
    EXPECT_EQ(find("CAMO.JPG"), at("game/units/jeep/camo.jpg")) << "a folder nearer the parent first";
    file("game/units/camo.JPG");
    EXPECT_EQ(find("camo.jpg"), at("game/units/camo.JPG")) << "the parent itself first";
    file("game/units/camo.jpg");
    EXPECT_EQ(find("camo.jpg"), at("game/units/camo.jpg")) << "the exact name before another case";
}

TEST_F(TextureArchiveTest, SameDepthGoesInPathOrderAndTheModelsOwnSearchIsNotRepeated) {
    file("game/b/wood.jpg");
    file("game/a/wood.jpg");
    EXPECT_EQ(find("wood.jpg"), at("game/a/wood.jpg"));
    // Beside the model and directly below it, TextureLookup has looked already.
    file("game/units/tank/metal.jpg");
    file("game/units/tank/maps/rust.jpg");
    EXPECT_EQ(find("metal.jpg"), "");
    EXPECT_EQ(find("rust.jpg"), "");
    file("game/units/tank/maps/old/oil.jpg");
    EXPECT_EQ(find("oil.jpg"), at("game/units/tank/maps/old/oil.jpg"));
}

TEST_F(TextureArchiveTest, OnlyTheArchiveOfTheModelAndOnlyFilesCount) {
    file("elsewhere/camo.jpg");
    fs::create_directories(root / "game/textures/camo.jpg");
    const TextureArchive archive({at("game"), at("elsewhere")});
    EXPECT_EQ(archive.find(at("game/units/tank"), "camo.jpg"), "");
    EXPECT_EQ(archive.find(at("outside"), "camo.jpg"), "");
}

TEST_F(TextureArchiveTest, ALinkedLoopIsListedOnceAndFindsLeadThroughRealFolders) {
    file("store/brick.jpg");
    fs::create_directory_symlink(root / "store", root / "game/linked");
    fs::create_directory_symlink(root / "game", root / "game/units/loop");
    const TextureArchive archive({at("game")});
    EXPECT_EQ(archive.folderCount(), 4u) << "game, linked, units, tank; the loop back to game adds none";
    EXPECT_EQ(archive.find(at("game/units/tank"), "BRICK.jpg"), at("store/brick.jpg"));
}

TEST_F(TextureArchiveTest, TheLookupAsksTheArchiveLastAndNamesTheImageFromTheScene) {
    file("game/textures/CAMO.JPG");
    file("path/camo.jpg");
    fs::create_directories(root / "out/game/units/tank");
    const TextureArchive archive({at("game")});
    std::vector<std::string> messages;
    const std::string scene = at("out/game/units/tank");
    {
        TextureLookup lookup(at("game/units/tank/unit.3ds"), scene, at("path").c_str(), messages, &archive);
        EXPECT_STREQ(lookup.sceneName("CAMO.JPG"), "../../../../path/camo.jpg") << "the search path first";
    }
    {
        TextureLookup lookup(at("game/units/tank/unit.3ds"), scene, nullptr, messages, &archive);
        EXPECT_STREQ(lookup.sceneName("CAMO.JPG"), "../../../../game/textures/CAMO.JPG");
        EXPECT_EQ(lookup.sceneName("GONE.JPG"), nullptr);
        EXPECT_EQ(lookup.foundCount(), 1u);
        EXPECT_EQ(lookup.missingCount(), 1u);
    }
    EXPECT_EQ(messages.back(), "Cannot find texture file \"GONE.JPG\".");
    EXPECT_EQ(messages[messages.size() - 2],
              "Using \"../../../../game/textures/CAMO.JPG\" for texture file \"CAMO.JPG\".");
}

}  // namespace
