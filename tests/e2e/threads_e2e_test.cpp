// kestrav -j: the scene, the messages and the status do not depend on the
// number of threads, for every model and option set.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/SceneOutput.h"
#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"
#include "tools/writer/HeightField.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

std::vector<std::string> testModels(const std::string& dir) {
    std::vector<std::string> models;
    for (const auto& entry : fs::directory_iterator(corpusModel(""))) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".3ds") models.push_back(entry.path().string());
    }
    models.push_back(exampleModel());
    for (const DamagedModel& damaged : locallyDamagedModels()) {
        const Bytes bytes = damaged.write(true);
        models.push_back(dir + "/" + damaged.name);
        writeFile(models.back(), std::string(bytes.begin(), bytes.end()));
    }
    return models;
}

void expectSameRunAtEveryThreadCount(const std::string& model, const std::vector<std::string>& options,
                                     const std::string& dir, size_t* sceneBytes = nullptr) {
    std::string shown = model;
    for (const std::string& option : options) shown += " " + option;
    std::vector<std::string> arguments = options;
    arguments.insert(arguments.end(), {"-j", "1", model, dir + "/one.iv"});
    const ProcessResult one = runProcess(kestravCommand(arguments));
    ASSERT_FALSE(one.timedOut) << shown;
    const std::string scene = readFile(dir + "/one.iv");
    if (sceneBytes) *sceneBytes = scene.size();
    for (const char* threads : {"2", "7"}) {
        arguments[options.size() + 1] = threads;
        arguments.back() = dir + "/many.iv";
        const ProcessResult many = runProcess(kestravCommand(arguments));
        EXPECT_EQ(many.exitStatus, one.exitStatus) << shown << " -j " << threads;
        EXPECT_EQ(many.err, one.err) << shown << " -j " << threads;
        EXPECT_TRUE(readFile(dir + "/many.iv") == scene) << shown << " -j " << threads;
        fs::remove(dir + "/many.iv");
    }
    fs::remove(dir + "/one.iv");
}

const std::vector<std::vector<std::string>> kOptionSets = {
    {}, {"-f", "-s", "-t", "-a", "-l"}, {"-B"}, {"-f", "-s", "-t", "-a", "-l", "-B"}};

// Damaged models among them: their warnings come in the same order too.
TEST(ThreadsE2e, EveryTestModelGivesTheSameSceneAndMessagesAtAnyThreadCount) {
    const std::string dir = freshDirectory("threads");
    for (const std::string& model : testModels(dir))
        for (const auto& options : kOptionSets) expectSameRunAtEveryThreadCount(model, options, dir);
}

// A scene long enough for its text to be formatted on several threads.
TEST(ThreadsE2e, LargeSceneIsTheSameAtAnyThreadCount) {
    const std::string dir = freshDirectory("threads-large");
    const std::string model = dir + "/large.3ds";
    const Bytes bytes = limitMeshModel("limit.png");
    writeFile(model, std::string(bytes.begin(), bytes.end()));
    for (const auto& options : kOptionSets) {
        size_t sceneBytes = 0;
        expectSameRunAtEveryThreadCount(model, options, dir, &sceneBytes);
        if (options.empty()) {
            EXPECT_GT(sceneBytes, 4 * SceneOutput::kThreadedTextBytes);
        }
    }
}

}  // namespace
