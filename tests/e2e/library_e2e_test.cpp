// The library in a program of its own: conversions one after the other or
// interleaved in one process give the bytes separate runs of kestrav give, and
// failures come back as statuses and messages while the process goes on.

#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kestrav/kestrav.h"
#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"

using namespace kestrav;

namespace {

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + '\n';
    return text;
}

// What a separate run of kestrav writes and says for the model.
struct SeparateRun {
    std::string scene;
    std::string err;
};

SeparateRun separateRun(const std::string& model, const std::string& output, const std::vector<std::string>& flags) {
    std::vector<std::string> arguments = flags;
    arguments.push_back(model);
    arguments.push_back(output);
    const ProcessResult r = runProcess(kestravCommand(arguments));
    EXPECT_EQ(r.exitStatus, 0) << model;
    return {readFile(output), r.err};
}

// The models differ in what they exercise: textures found under another name
// (test1: three images, Using lines), keyframer placement, materials.
const char* const kModels[] = {"test1.3ds", "RotatingCube.3DS", "cubes_with_alpha.3DS"};

}  // namespace

TEST(LibraryE2e, ConversionsInOneProcessGiveTheBytesOfSeparateRuns) {
    const std::string dir = freshDirectory("library-sequence");
    std::vector<SeparateRun> expected;
    for (const char* model : kModels)
        expected.push_back(separateRun(corpusModel(model), dir + "/" + model + ".alone.iv", {"-s"}));
    Options options;
    options.twoSided = true;

    // One after the other, then the first again after the others.
    const std::vector<int> order = {0, 1, 2, 0};
    for (size_t k = 0; k < order.size(); ++k) {
        const int m = order[k];
        SCOPED_TRACE(std::string(kModels[m]) + ", conversion " + std::to_string(k));
        const std::string output = dir + "/" + kModels[m] + "." + std::to_string(k) + ".iv";
        Conversion conversion = convertToFile(corpusModel(kModels[m]), output, options);
        ASSERT_NE(conversion.root, nullptr);
        conversion.root->unref();
        EXPECT_EQ(conversion.status, Outcome::Converted);
        EXPECT_EQ(joined(conversion.messages), expected[size_t(m)].err);
        EXPECT_TRUE(readFile(output) == expected[size_t(m)].scene);
    }

    // Interleaved: every model converted before any is written.
    std::vector<Conversion> held;
    for (const char* model : kModels) held.push_back(convert(corpusModel(model), options, dir + "/held.iv"));
    for (size_t m = 0; m < held.size(); ++m) {
        SCOPED_TRACE(kModels[m]);
        const std::string output = dir + "/" + kModels[m] + ".held.iv";
        ASSERT_NE(held[m].root, nullptr);
        EXPECT_TRUE(write(held[m].root, output));
        held[m].root->unref();
        EXPECT_TRUE(readFile(output) == expected[m].scene);
    }
}

TEST(LibraryE2e, FailuresComeBackAsStatusesAndTheProcessGoesOn) {
    const std::string dir = freshDirectory("library-failures");

    const Conversion missing = convert(dir + "/no-such-model.3ds");
    EXPECT_EQ(missing.status, Outcome::Unreadable);
    EXPECT_EQ(missing.root, nullptr);
    EXPECT_EQ(joined(missing.messages), std::string(kCannotReadText) + "Cannot read \"" + dir +
                                            "/no-such-model.3ds\": No such file or directory\n");

    const std::string damaged = dir + "/damaged.3ds";
    const Bytes bytes = facesPastChunkModel(true);
    writeFile(damaged, std::string(bytes.begin(), bytes.end()));
    Conversion partly = convert(damaged);
    ASSERT_NE(partly.root, nullptr);
    partly.root->unref();
    EXPECT_EQ(partly.status, Outcome::DamagedChunksSkipped);
    EXPECT_EQ(joined(partly.messages),
              "Warning: \"" + damaged + "\" is damaged; damaged chunks were skipped and the rest was converted.\n");

    // Root writes through permissions, so the target is a folder that is not there.
    Conversion unwritten = convertToFile(exampleModel(), dir + "/no-such-folder/scene.iv");
    ASSERT_NE(unwritten.root, nullptr);
    unwritten.root->unref();
    EXPECT_EQ(unwritten.status, Outcome::NotWritten);
    EXPECT_EQ(joined(unwritten.messages),
              "Cannot write the scene to \"" + dir + "/no-such-folder/scene.iv\": No such file or directory\n");

    // The model itself as the output is refused before anything is read or written.
    const std::string model = dir + "/model.3ds";
    writeFile(model, readFile(exampleModel()));
    const Conversion overItself = convertToFile(model, model);
    EXPECT_EQ(overItself.status, Outcome::NotWritten);
    EXPECT_EQ(overItself.root, nullptr);
    EXPECT_EQ(joined(overItself.messages),
              "kestrav: the output \"" + model + "\" is the input file \"" + model + "\"; nothing was written\n");
    EXPECT_EQ(readFile(model), readFile(exampleModel()));

    // And the process still converts.
    Conversion after = convertToFile(exampleModel(), dir + "/after.iv");
    ASSERT_NE(after.root, nullptr);
    after.root->unref();
    EXPECT_EQ(after.status, Outcome::Converted);
    EXPECT_TRUE(after.messages.empty());
}

TEST(LibraryE2e, ModelInMemoryGivesWhatTheSameBytesInAFileGive) {
    const std::string dir = freshDirectory("library-memory");
    // Its images are found beside the scene as the file's are beside it.
    const std::string model = corpusModel("test1.3ds");
    const std::string scene = model.substr(0, model.rfind('/')) + "/scene.iv";
    const std::string bytes = readFile(model);
    Conversion fromFile = convert(model, Options(), scene);
    Conversion fromMemory = convert(bytes.data(), bytes.size(), Options(), scene);
    ASSERT_NE(fromFile.root, nullptr);
    ASSERT_NE(fromMemory.root, nullptr);
    EXPECT_TRUE(write(fromFile.root, dir + "/file.iv"));
    EXPECT_TRUE(write(fromMemory.root, dir + "/memory.iv"));
    EXPECT_TRUE(readFile(dir + "/memory.iv") == readFile(dir + "/file.iv"));
    EXPECT_EQ(fromMemory.status, fromFile.status);
    EXPECT_FALSE(fromFile.messages.empty());
    EXPECT_EQ(fromMemory.messages, fromFile.messages);
    // From a scene elsewhere the same bytes find none of them.
    Conversion elsewhere = convert(bytes.data(), bytes.size(), Options(), dir + "/scene.iv");
    EXPECT_EQ(joined(elsewhere.messages).find("Using"), std::string::npos) << joined(elsewhere.messages);
    for (Conversion* c : {&fromFile, &fromMemory, &elsewhere}) c->root->unref();

    // A damaged model and bytes that are no model are named "<memory>".
    const Bytes damaged = facesPastChunkModel(true);
    Conversion partly = convert(damaged.data(), damaged.size());
    ASSERT_NE(partly.root, nullptr);
    partly.root->unref();
    EXPECT_EQ(partly.status, Outcome::DamagedChunksSkipped);
    EXPECT_EQ(joined(partly.messages),
              "Warning: \"<memory>\" is damaged; damaged chunks were skipped and the rest was converted.\n");
    const Conversion text = convert("hello", 5);
    EXPECT_EQ(text.status, Outcome::Unreadable);
    EXPECT_EQ(text.root, nullptr);
    EXPECT_EQ(joined(text.messages), std::string(kCannotReadText) + "\"<memory>\" is not a 3DS model\n");
    EXPECT_EQ(joined(convert(nullptr, 0).messages), std::string(kCannotReadText) + "\"<memory>\" is empty, not a 3DS model\n");
}
