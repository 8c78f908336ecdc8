// Converts the textured corpus cube from folders other than the model's and
// reads the written scene back with Coin, as another program would.

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoPath.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTexture2.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/e2e/KestravRun.h"

namespace fs = std::filesystem;

namespace {

const char* const kCube = "cube_with_diffuse_texture.3DS";

struct TextureSeen {
    int count = 0;
    std::string filename;  // of the first
    SbVec2s size{0, 0};    // of its image, as Coin read it
};

// Reads the scene file the way a viewer does, with the current directory set
// to from, and looks at its SoTexture2 nodes.
TextureSeen readTextures(const std::string& scene, const std::string& from) {
    SoDB::init();
    TextureSeen seen;
    const fs::path previous = fs::current_path();
    fs::current_path(from);
    SoInput input;
    SoSeparator* root = input.openFile(scene.c_str()) ? SoDB::readAll(&input) : nullptr;
    fs::current_path(previous);
    if (!root) return seen;
    root->ref();
    SoSearchAction search;
    search.setType(SoTexture2::getClassTypeId());
    search.setInterest(SoSearchAction::ALL);
    search.apply(root);
    seen.count = search.getPaths().getLength();
    if (seen.count > 0) {
        SoTexture2* texture = static_cast<SoTexture2*>(search.getPaths()[0]->getTail());
        seen.filename = texture->filename.getValue().getString();
        int components = 0;
        texture->image.getValue(seen.size, components);
    }
    root->unref();
    return seen;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(TextureLookupE2e, CubeFromAnotherFolderWithItsSceneInAThird) {
    // models/ holds the cube and its image in lower case, as it is shipped;
    // kestrav runs in work/ and writes to out/.
    const std::string models = freshDirectory("lookup-models");
    fs::copy_file(corpusModel(kCube), models + "/" + kCube, fs::copy_options::overwrite_existing);
    fs::copy_file(corpusModel("test.png"), models + "/test.png", fs::copy_options::overwrite_existing);
    const std::string work = freshDirectory("lookup-work");
    const std::string out = freshDirectory("lookup-out");
    LaunchOptions launch = kestravCommand({"../lookup-models/" + std::string(kCube), out + "/scene.iv"});
    launch.workingDirectory = work;
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "Using \"../lookup-models/test.png\" for texture file \"TEST.PNG\".\n");

    // Whichever the reader's current directory, the name resolves from the
    // scene's folder to the image.
    for (const std::string& from : {out, work, freshDirectory("lookup-elsewhere/deeper")}) {
        const TextureSeen seen = readTextures(out + "/scene.iv", from);
        EXPECT_EQ(seen.count, 1) << from;
        EXPECT_EQ(seen.filename, "../lookup-models/test.png") << from;
        EXPECT_EQ(seen.size, SbVec2s(512, 512)) << from;
    }

    // Converted the old way, with the image under the model's name in the
    // current directory and the scene written there: nothing said, and the
    // scene differs only by naming the image as the model does.
    const std::string beside = freshDirectory("lookup-old-way");
    fs::copy_file(corpusModel(kCube), beside + "/" + kCube, fs::copy_options::overwrite_existing);
    fs::copy_file(corpusModel("test.png"), beside + "/TEST.PNG", fs::copy_options::overwrite_existing);
    LaunchOptions oldWay = kestravCommand({kCube, "scene.iv"});
    oldWay.workingDirectory = beside;
    const ProcessResult old = runProcess(oldWay);
    EXPECT_EQ(old.exitStatus, 0);
    EXPECT_EQ(old.err, "");
    const std::string oldScene = readFile(beside + "/scene.iv");
    EXPECT_NE(oldScene.find("filename \"TEST.PNG\""), std::string::npos);
    EXPECT_EQ(oldScene, replaced(readFile(out + "/scene.iv"), "\"../lookup-models/test.png\"", "\"TEST.PNG\""));
    LaunchOptions toStdout = kestravCommand({kCube});
    toStdout.workingDirectory = beside;
    EXPECT_EQ(runProcess(toStdout).out, oldScene);
    EXPECT_EQ(readTextures(beside + "/scene.iv", work).size, SbVec2s(512, 512));
}

TEST(TextureLookupE2e, SearchPathAndStandardOutput) {
    // The image only in a folder of KESTRAV_TEXTURE_PATH; the scene goes to
    // standard output, so it names the image from the current directory.
    const std::string models = freshDirectory("path-models");
    fs::copy_file(corpusModel(kCube), models + "/" + kCube, fs::copy_options::overwrite_existing);
    const std::string images = freshDirectory("path-images");
    fs::copy_file(corpusModel("test.png"), images + "/Test.Png", fs::copy_options::overwrite_existing);
    const std::string work = freshDirectory("path-work");
    LaunchOptions launch = kestravCommand({models + "/" + kCube});
    launch.workingDirectory = work;
    launch.setVariables = {{"KESTRAV_TEXTURE_PATH", scratchDirectory() + "/nowhere:" + images}};
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "Using \"../path-images/Test.Png\" for texture file \"TEST.PNG\".\n");
    EXPECT_NE(r.out.find("filename \"../path-images/Test.Png\""), std::string::npos);

    // Without the variable the image is missing, and the message is as before.
    launch.setVariables.clear();
    EXPECT_EQ(runProcess(launch).err, "Cannot find texture file \"TEST.PNG\".\n");
}

}  // namespace
