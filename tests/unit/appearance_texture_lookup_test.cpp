#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "appearance/TextureLookup.h"
#include "tests/support/SceneFixture.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

struct Outcome {
    std::string name;  // empty: not found
    std::string errors;
};

// A tree of its own per test: work/ is the current directory, the model lies
// in models/, the scene is written to out/.
class TextureLookupTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        root = fs::path(scratchDirectory()) / ("lookup-" + test);
        for (const char* folder : {"work", "models", "out"}) fs::create_directories(root / folder);
        previousDirectory = fs::current_path();
        fs::current_path(root / "work");
    }
    void TearDown() override { fs::current_path(previousDirectory); }

    void file(const std::string& relative) {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative) << "image";
    }
    // The scene name, and the lines the look-up reported for it, each with
    // its newline as the program prints them.
    Outcome lookUp(TextureLookup& lookup, const std::string& stored) {
        messages.clear();
        const char* name = lookup.sceneName(stored.c_str());
        std::string reported;
        for (const std::string& line : messages) reported += line + '\n';
        return Outcome{name ? name : "", reported};
    }
    // A model given relative to the current directory, as on a command line.
    Outcome lookUpFromOut(const std::string& stored, const char* searchPath = nullptr) {
        TextureLookup lookup("../models/model.3ds", (root / "out").string(), searchPath, messages);
        return lookUp(lookup, stored);
    }
    static std::string usingMessage(const std::string& path, const std::string& stored) {
        return "Using \"" + path + "\" for texture file \"" + stored + "\".\n";
    }
    static std::string missingMessage(const std::string& stored) {
        return "Cannot find texture file \"" + stored + "\".\n";
    }

    fs::path root;
    fs::path previousDirectory;
    std::vector<std::string> messages;
};

TEST_F(TextureLookupTest, NameAsStoredInTheCurrentDirectoryComesFirstAndPrintsNothing) {
    file("work/WOOD.JPG");
    file("work/maps/STONE.JPG");
    file("models/wood.jpg");
    // Scenes written to the current directory name it exactly as the model does.
    for (const std::string& scene : {std::string(), (root / "work").string(), std::string(".")}) {
        TextureLookup lookup("../models/model.3ds", scene, nullptr, messages);
        EXPECT_EQ(lookUp(lookup, "WOOD.JPG").name, "WOOD.JPG") << scene;
        EXPECT_EQ(lookUp(lookup, "maps/STONE.JPG").name, "maps/STONE.JPG") << scene;
    }
    const Outcome fromOut = lookUpFromOut("WOOD.JPG");
    EXPECT_EQ(fromOut.name, "../work/WOOD.JPG");
    EXPECT_EQ(fromOut.errors, "");
}

TEST_F(TextureLookupTest, LastComponentBesideTheModelInAnyLetterCase) {
    file("models/test.png");
    file("models/caldarifighter_tex_d.dds");
    file(std::string("models/") + std::string(240, 'l') + ".jpg");
    file("x.jpg");
    file("models/X.JPG");
    const std::string longName = std::string(240, 'L') + ".JPG";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"TEST.PNG", "test.png"},
        {"MAPS\\TEST.PNG", "test.png"},
        {"C:\\X\\TEST.PNG", "test.png"},
        {"c:TEST.PNG", "test.png"},
        {"CALDARIFIGHTER_TEX_D.DDS", "caldarifighter_tex_d.dds"},
        {longName, std::string(240, 'l') + ".jpg"},
        // Climbing out is not followed, though ../x.jpg exists from here.
        {"../x.jpg", "X.JPG"},
        {"..\\..\\x.jpg", "X.JPG"},
    };
    for (const auto& c : cases) {
        const Outcome found = lookUpFromOut(c.first);
        EXPECT_EQ(found.name, "../models/" + c.second) << c.first;
        EXPECT_EQ(found.errors, usingMessage("../models/" + c.second, c.first)) << c.first;
    }
    TextureLookup fromHere("../models/model.3ds", "", nullptr, messages);
    EXPECT_EQ(lookUp(fromHere, "TEST.PNG").name, "../models/test.png");
}

TEST_F(TextureLookupTest, ModelFolderThenItsSubfoldersByNameThenTheSearchPath) {
    file("models/bark.jpg");
    file("models/Textures/BARK.JPG");
    file("models/Textures/wood.jpg");
    file("models/b/STONE.JPG");
    file("models/a/stone.jpg");
    file("models/a/deep/leaf.jpg");
    file("shared/leaf.jpg");
    file("library/moss.jpg");
    fs::create_directory_symlink("../library", root / "models/linked");
    EXPECT_EQ(lookUpFromOut("BARK.JPG").name, "../models/bark.jpg");
    // A linked subfolder counts, named by where it leads.
    EXPECT_EQ(lookUpFromOut("MOSS.JPG").name, "../library/moss.jpg");
    EXPECT_EQ(lookUpFromOut("WOOD.JPG").name, "../models/Textures/wood.jpg");
    // Folder by folder: a case variant in a/ comes before the exact name in b/.
    EXPECT_EQ(lookUpFromOut("STONE.JPG").name, "../models/a/stone.jpg");
    // Only direct subfolders; then the search path.
    EXPECT_EQ(lookUpFromOut("LEAF.JPG").name, "");
    EXPECT_EQ(lookUpFromOut("LEAF.JPG", (root / "shared").c_str()).name, "../shared/leaf.jpg");
}

TEST_F(TextureLookupTest, CaseVariantsGiveTheFirstInByteOrderWhateverTheDirectoryOrder) {
    // All sixteen case variants of wood.jpg's stem, made in opposite orders in
    // two folders, so neither folder lists them in byte order.
    std::vector<std::string> variants;
    for (int upper = 0; upper < 16; ++upper) {
        std::string stem = "wood";
        for (int i = 0; i < 4; ++i)
            if (upper >> i & 1) stem[i] = char(stem[i] - 'a' + 'A');
        variants.push_back(stem + ".jpg");
    }
    for (const std::string& name : variants) file("models/" + name);
    for (auto name = variants.rbegin(); name != variants.rend(); ++name) file("other/" + *name);
    for (const char* model : {"../models/model.3ds", "../other/model.3ds"}) {
        TextureLookup lookup(model, "", nullptr, messages);
        const std::string folder = fs::path(model).parent_path().string() + "/";
        EXPECT_EQ(lookUp(lookup, "WOOD.JPG").name, folder + "WOOD.jpg") << model;
        EXPECT_EQ(lookUp(lookup, "wood.JPG").name, folder + "WOOD.jpg") << model;
        EXPECT_EQ(lookUp(lookup, "wOoD.jpg").name, folder + "wOoD.jpg") << model;
    }
}

TEST_F(TextureLookupTest, OnlyRegularFilesMatch) {
    fs::create_directories(root / "models/wood.jpg");
    fs::create_directories(root / "work/WOOD.JPG");
    ASSERT_EQ(mkfifo((root / "models/stone.jpg").c_str(), 0644), 0);
    // Opening a FIFO for reading would wait for a writer: the run would hang.
    ASSERT_EQ(mkfifo((root / "work/STONE.JPG").c_str(), 0644), 0);
    fs::create_symlink("gone.jpg", root / "models/bark.jpg");
    file("elsewhere/real.png");
    fs::create_symlink("../elsewhere/real.png", root / "models/leaf.jpg");
    for (const char* name : {"WOOD.JPG", "STONE.JPG", "BARK.JPG"})
        EXPECT_EQ(lookUpFromOut(name).errors, missingMessage(name)) << name;
    // A link to a file is followed, and named as the link.
    EXPECT_EQ(lookUpFromOut("LEAF.JPG").name, "../models/leaf.jpg");
    for (const char* name : {"Textures/WOOD.JPG", "Textures/STONE.JPG", "Textures/BARK.JPG"}) file(std::string("models/") + name);
    for (const char* name : {"WOOD.JPG", "STONE.JPG", "BARK.JPG"})
        EXPECT_EQ(lookUpFromOut(name).name, std::string("../models/Textures/") + name) << name;
}

TEST_F(TextureLookupTest, UnreachableSearchFoldersAreSkippedSilently) {
    file("plain.txt");
    file("shared1/stone.jpg");
    file("shared2/wood.jpg");
    file("shared2/STONE.JPG");
    file("work/lib/bark.jpg");
    // Missing, below a regular file, empty entries, and one relative to the
    // current directory.
    const std::string searchPath = (root / "nowhere").string() + ":" + (root / "plain.txt/sub").string() +
                                   "::" + (root / "shared1").string() + ":" + (root / "shared2").string() + ":lib:";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"WOOD.JPG", "../shared2/wood.jpg"}, {"STONE.JPG", "../shared1/stone.jpg"}, {"BARK.JPG", "../work/lib/bark.jpg"}};
    for (const auto& c : cases) {
        const Outcome found = lookUpFromOut(c.first, searchPath.c_str());
        EXPECT_EQ(found.name, c.second) << c.first;
        EXPECT_EQ(found.errors, usingMessage(c.second, c.first)) << c.first;
    }
}

TEST_F(TextureLookupTest, UnreadableSearchFolderIsSkippedSilently) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads folders whatever their permissions";
    file("locked/wood.jpg");
    file("open/WOOD.JPG");
    ASSERT_EQ(chmod((root / "locked").c_str(), 0), 0);
    const std::string searchPath = (root / "locked").string() + ":" + (root / "open").string();
    const Outcome found = lookUpFromOut("WOOD.JPG", searchPath.c_str());
    chmod((root / "locked").c_str(), 0755);
    EXPECT_EQ(found.name, "../open/WOOD.JPG");
    EXPECT_EQ(found.errors, usingMessage("../open/WOOD.JPG", "WOOD.JPG"));
}

TEST_F(TextureLookupTest, SpacesAndBytesAbove127) {
    file("models/door fra.jpg");
    file("models/caf\xc9 noir.jpg");
    EXPECT_EQ(lookUpFromOut("DOOR FRA.JPG").name, "../models/door fra.jpg");
    const Outcome latin1 = lookUpFromOut("CAF\xc9 NOIR.JPG");
    EXPECT_EQ(latin1.name, "../models/caf\xc9 noir.jpg");
    EXPECT_EQ(latin1.errors, usingMessage("../models/caf\xc9 noir.jpg", "CAF\xc9 NOIR.JPG"));
    // Only ASCII letters fold: the code page of other bytes is unknown.
    EXPECT_EQ(lookUpFromOut("CAF\xe9 NOIR.JPG").errors, missingMessage("CAF\xe9 NOIR.JPG"));
}

TEST_F(TextureLookupTest, BadNamesFindNothing) {
    fs::create_directories(root / "models/MAPS");
    file("models/Textures/x");
    for (const char* name : {"", "\\\\", "/", ".", "..", "MAPS\\", "C:", "..\\.."}) {
        const Outcome outcome = lookUpFromOut(name);
        EXPECT_EQ(outcome.name, "") << name;
        EXPECT_EQ(outcome.errors, missingMessage(name)) << name;
    }
}

TEST_F(TextureLookupTest, FoundNamesReportedOnceEachFolderListedOnce) {
    file("models/wood.jpg");
    TextureLookup lookup("../models/model.3ds", "", nullptr, messages);
    EXPECT_EQ(lookUp(lookup, "WOOD.JPG").errors, usingMessage("../models/wood.jpg", "WOOD.JPG"));
    EXPECT_EQ(lookUp(lookup, "WOOD.JPG").errors, "");
    EXPECT_EQ(lookUp(lookup, "WOOD.JPG").name, "../models/wood.jpg");
    EXPECT_EQ(lookUp(lookup, "GONE.JPG").errors, missingMessage("GONE.JPG"));
    EXPECT_EQ(lookUp(lookup, "GONE.JPG").errors, "");
    // The folder was listed before the file came: a new conversion sees it.
    file("models/gone.jpg");
    EXPECT_EQ(lookUp(lookup, "MAPS\\GONE.JPG").name, "");
    TextureLookup next("../models/model.3ds", "", nullptr, messages);
    EXPECT_EQ(lookUp(next, "GONE.JPG").name, "../models/gone.jpg");
}

TEST_F(TextureLookupTest, SceneNamesResolveFromTheSceneFolder) {
    file("models/wood.jpg");
    file("absolute.jpg");
    fs::create_directories(root / "out/deep/er");
    fs::create_directory_symlink(root / "out/deep/er", root / "link");
    const std::string absolute = (root / "absolute.jpg").string();
    for (const fs::path& scene : {root / "out/deep/er", root / "link", fs::path("../link")}) {
        TextureLookup lookup("../models/model.3ds", scene.string(), nullptr, messages);
        const std::string name = lookUp(lookup, "WOOD.JPG").name;
        EXPECT_EQ(name, "../../../models/wood.jpg") << scene;
        EXPECT_TRUE(fs::equivalent(scene / name, root / "models/wood.jpg")) << scene;
        EXPECT_EQ(lookUp(lookup, absolute).name, absolute) << scene;
    }
}

TEST_F(TextureLookupTest, SceneFolderIsTheOutputsOrTheCurrentDirectory) {
    EXPECT_EQ(sceneFolderOf(""), "");
    EXPECT_EQ(sceneFolderOf("scene.iv"), "");
    EXPECT_EQ(sceneFolderOf("../out/scene.iv"), "../out");
    ASSERT_EQ(mkfifo((root / "out/pipe.iv").c_str(), 0644), 0);
    EXPECT_EQ(sceneFolderOf((root / "out/pipe.iv").string()), "");
    file("models/real.iv");
    fs::create_symlink("../models/real.iv", root / "out/link.iv");
    EXPECT_EQ(sceneFolderOf((root / "out/link.iv").string()), fs::canonical(root / "models").string());
}

}  // namespace
