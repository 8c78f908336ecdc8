// The library in a program of its own: conversions one after the other or
// interleaved in one process give the bytes separate runs of kestrav give (a
// wire material too, given the line widths the program asks of OpenGL), and
// failures come back as statuses and messages while the process goes on.

#include <Inventor/nodes/SoSeparator.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli/LineWidthQuery.h"
#include "cli/ProgramLines.h"
#include "kestrav/kestrav.h"
#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

// The conversion's messages as the program prints them.
std::string joined(const Conversion& conversion) {
    std::string text;
    for (const std::string& line : programLines(conversion)) text += line + '\n';
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

// A triangle drawn as lines half as wide as the widest OpenGL draws, and one
// drawn as thin as it allows.
void writeWireModel(const std::string& path) {
    const Bytes bytes = model3ds({material("Half", 0, {Chunk3ds(MAT_WIRE), Chunk3ds(MAT_WIRESIZE).f32(50)}),
                                  material("Thin", 0, {Chunk3ds(MAT_WIRE), Chunk3ds(MAT_WIRESIZE).f32(0.5f)}),
                                  meshObject("Tri", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0}),
                                                     faceArray({{0, 1, 2}, {1, 3, 2}},
                                                               {materialGroup("Half", {0}),
                                                                materialGroup("Thin", {1})})})});
    writeFile(path, std::string(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(LibraryE2e, ConversionsInOneProcessGiveTheBytesOfSeparateRuns) {
    const std::string dir = freshDirectory("library-sequence");
    // The models differ in what they exercise: textures found under another
    // name (test1: three images, Using lines), keyframer placement, materials,
    // and wire lines.
    std::vector<std::string> models;
    for (const char* model : {"test1.3ds", "RotatingCube.3DS", "cubes_with_alpha.3DS"})
        models.push_back(corpusModel(model));
    models.push_back(dir + "/wire.3ds");
    writeWireModel(models.back());
    std::vector<SeparateRun> expected;
    for (size_t m = 0; m < models.size(); ++m)
        expected.push_back(separateRun(models[m], dir + "/" + std::to_string(m) + ".alone.iv", {"-s"}));
    Options options;
    options.twoSided = true;
    options.lineWidths = queryLineWidthRange;

    // One after the other, then the first again after the others.
    const std::vector<size_t> order = {0, 1, 2, 3, 0};
    for (size_t k = 0; k < order.size(); ++k) {
        const size_t m = order[k];
        SCOPED_TRACE(models[m] + ", conversion " + std::to_string(k));
        const std::string output = dir + "/" + std::to_string(m) + "." + std::to_string(k) + ".iv";
        const Conversion conversion = convertToFile(models[m], output, options);
        ASSERT_NE(conversion.root(), nullptr);
        EXPECT_EQ(conversion.status, Outcome::Converted);
        EXPECT_EQ(joined(conversion), expected[m].err);
        EXPECT_TRUE(readFile(output) == expected[m].scene);
    }

    // Interleaved: every model converted before any is written.
    std::vector<Conversion> held;
    for (const std::string& model : models) held.push_back(convert(model, options, dir + "/held.iv"));
    for (size_t m = 0; m < held.size(); ++m) {
        SCOPED_TRACE(models[m]);
        const std::string output = dir + "/" + std::to_string(m) + ".held.iv";
        ASSERT_NE(held[m].root(), nullptr);
        EXPECT_TRUE(write(held[m].root(), output));
        EXPECT_TRUE(readFile(output) == expected[m].scene);
    }
}

TEST(LibraryE2e, FailuresComeBackAsStatusesAndTheProcessGoesOn) {
    const std::string dir = freshDirectory("library-failures");

    const Conversion missing = convert(dir + "/no-such-model.3ds");
    EXPECT_EQ(missing.status, Outcome::Unreadable);
    EXPECT_EQ(missing.root(), nullptr);
    EXPECT_EQ(joined(missing), std::string(kCannotReadText) + "Cannot read \"" + dir +
                                            "/no-such-model.3ds\": No such file or directory\n");

    const std::string damaged = dir + "/damaged.3ds";
    const Bytes bytes = facesPastChunkModel(true);
    writeFile(damaged, std::string(bytes.begin(), bytes.end()));
    const Conversion partly = convert(damaged);
    ASSERT_NE(partly.root(), nullptr);
    EXPECT_EQ(partly.status, Outcome::DamagedChunksSkipped);
    EXPECT_EQ(joined(partly),
              "Warning: \"" + damaged + "\" is damaged; damaged chunks were skipped and the rest was converted.\n");

    // Root writes through permissions, so the target is a folder that is not there.
    const Conversion unwritten = convertToFile(exampleModel(), dir + "/no-such-folder/scene.iv");
    ASSERT_NE(unwritten.root(), nullptr);
    EXPECT_EQ(unwritten.status, Outcome::NotWritten);
    EXPECT_EQ(joined(unwritten),
              "Cannot write the scene to \"" + dir + "/no-such-folder/scene.iv\": No such file or directory\n");

    // The model itself as the output is refused before anything is read or written.
    const std::string model = dir + "/model.3ds";
    writeFile(model, readFile(exampleModel()));
    const Conversion overItself = convertToFile(model, model);
    EXPECT_EQ(overItself.status, Outcome::NotWritten);
    EXPECT_EQ(overItself.root(), nullptr);
    EXPECT_EQ(joined(overItself),
              "kestrav: the output \"" + model + "\" is the input file \"" + model + "\"; nothing was written\n");
    EXPECT_EQ(readFile(model), readFile(exampleModel()));
    // So is standard output when it is open on the model.
    const int savedOut = dup(STDOUT_FILENO);
    const int onModel = open(model.c_str(), O_WRONLY | O_APPEND);
    dup2(onModel, STDOUT_FILENO);
    close(onModel);
    const Conversion throughStdout = convertToFile(model, "");
    dup2(savedOut, STDOUT_FILENO);
    close(savedOut);
    EXPECT_EQ(throughStdout.status, Outcome::NotWritten);
    EXPECT_EQ(joined(throughStdout),
              "kestrav: the output \"/dev/stdout\" is the input file \"" + model + "\"; nothing was written\n");
    EXPECT_EQ(readFile(model), readFile(exampleModel()));

    // And the process still converts.
    const Conversion after = convertToFile(exampleModel(), dir + "/after.iv");
    ASSERT_NE(after.root(), nullptr);
    EXPECT_EQ(after.status, Outcome::Converted);
    EXPECT_TRUE(after.messages.empty());
}

TEST(LibraryE2e, ModelInMemoryGivesWhatTheSameBytesInAFileGive) {
    const std::string dir = freshDirectory("library-memory");
    // Its images are found beside the scene as the file's are beside it.
    const std::string model = corpusModel("test1.3ds");
    const std::string scene = model.substr(0, model.rfind('/')) + "/scene.iv";
    const std::string bytes = readFile(model);
    const Conversion fromFile = convert(model, Options(), scene);
    const Conversion fromMemory = convert(bytes.data(), bytes.size(), Options(), scene);
    ASSERT_NE(fromFile.root(), nullptr);
    ASSERT_NE(fromMemory.root(), nullptr);
    EXPECT_TRUE(write(fromFile.root(), dir + "/file.iv"));
    EXPECT_TRUE(write(fromMemory.root(), dir + "/memory.iv"));
    EXPECT_TRUE(readFile(dir + "/memory.iv") == readFile(dir + "/file.iv"));
    EXPECT_EQ(fromMemory.status, fromFile.status);
    EXPECT_FALSE(fromFile.messages.empty());
    EXPECT_EQ(joined(fromMemory), joined(fromFile));
    // From a scene elsewhere the same bytes find none of them.
    const Conversion elsewhere = convert(bytes.data(), bytes.size(), Options(), dir + "/scene.iv");
    EXPECT_EQ(joined(elsewhere).find("Using"), std::string::npos) << joined(elsewhere);

    // A damaged model and bytes that are no model are named "<memory>".
    const Bytes damaged = facesPastChunkModel(true);
    const Conversion partly = convert(damaged.data(), damaged.size());
    ASSERT_NE(partly.root(), nullptr);
    EXPECT_EQ(partly.status, Outcome::DamagedChunksSkipped);
    EXPECT_EQ(joined(partly),
              "Warning: \"<memory>\" is damaged; damaged chunks were skipped and the rest was converted.\n");
    const Conversion text = convert("hello", 5);
    EXPECT_EQ(text.status, Outcome::Unreadable);
    EXPECT_EQ(text.root(), nullptr);
    EXPECT_EQ(joined(text), std::string(kCannotReadText) + "\"<memory>\" is not a 3DS model\n");
    EXPECT_EQ(joined(convert(nullptr, 0)), std::string(kCannotReadText) + "\"<memory>\" is empty, not a 3DS model\n");
}
