#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/KestravRun.h"
#include "tools/writer/HeightField.h"

using namespace kestrav;

namespace {

// The mesh at both 16-bit limits: a scene of megabytes, long enough in the
// writing to be interrupted.
std::string largeModel() {
    const std::string path = scratchDirectory() + "/large.3ds";
    if (fileExists(path)) return path;
    const Bytes bytes = limitMeshModel();
    writeFile(path, std::string(bytes.begin(), bytes.end()));
    return path;
}

bool temporaryIn(const std::string& directory) { return !temporariesBelow(directory).empty(); }

// Waits until a scene is being written below directory: false when the run
// ended first.
bool waitForAWrite(ChildProcess& process, const std::string& directory) {
    for (int tries = 0; tries < 200000 && !process.finished(); ++tries) {
        if (temporaryIn(directory)) return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

// On one thread or while worker threads format the text.
TEST(InterruptionE2e, SignalWhileWritingLeavesTheOldOutputAndNoTemporary) {
    for (const char* threads : {"1", "7"}) {
        SCOPED_TRACE(threads);
        const std::string dir = freshDirectory(std::string("interrupted-") + threads);
        const std::string out = dir + "/scene.iv";
        writeFile(out, "old scene\n");
        LaunchOptions launch = kestravCommand({"-f", "-j", threads, largeModel(), out});
        ChildProcess process(launch);
        // The temporary exists exactly while the scene is being written.
        ASSERT_TRUE(waitForAWrite(process, dir)) << "the run ended before its write could be interrupted";
        kill(process.pid(), SIGTERM);
        const ProcessResult r = process.wait(60);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, SIGTERM);
        EXPECT_FALSE(temporaryIn(dir)) << r.err;
        EXPECT_EQ(readFile(out), "old scene\n");
    }
}

std::vector<std::string> scenesBelow(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.is_regular_file()) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Ctrl-C reaches every process of the batch; kill PID, as a user or a service
// manager stops it, reaches the parent alone, which passes it on. Either way,
// once the batch has ended, no worker is left and none of the scenes being
// written is left behind, whole or in part.
TEST(InterruptionE2e, AStoppedBatchEndsWhenItsWorkersHaveRemovedWhatTheyWereWriting) {
    const std::string models = freshDirectory("interrupted-batch-models");
    std::vector<std::string> inputs;
    for (int i = 0; i < 6; ++i) {
        inputs.push_back(models + "/large" + std::to_string(i) + ".3ds");
        writeFile(inputs.back(), readFile(largeModel()));
    }
    const struct {
        int signal;
        bool wholeGroup;
    } stops[] = {{SIGINT, true}, {SIGTERM, false}, {SIGHUP, false}};
    for (const auto& stop : stops) {
        const std::string dir = freshDirectory("interrupted-batch-" + std::to_string(stop.signal));
        std::vector<std::string> arguments = {"-j", "2", "-d", dir};
        arguments.insert(arguments.end(), inputs.begin(), inputs.end());
        LaunchOptions launch = kestravCommand(arguments);
        launch.ownProcessGroup = true;
        ChildProcess process(launch);
        ASSERT_TRUE(waitForAWrite(process, dir)) << "the batch ended before a write could be interrupted";
        kill(stop.wholeGroup ? -process.pid() : process.pid(), stop.signal);
        const ProcessResult r = process.wait(60);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, stop.signal) << r.err;
        EXPECT_FALSE(temporaryIn(dir)) << stop.signal << r.err;
        const std::vector<std::string> left = scenesBelow(dir);
        EXPECT_LT(left.size(), inputs.size()) << stop.signal;
        // A worker still running would go on to write its scene.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(scenesBelow(dir), left) << stop.signal;
    }
}

// A mirrored tree writes its scenes in folders it makes as it goes: stopped
// while a scene deep in it is being written, the batch leaves no temporary in
// any of them.
TEST(InterruptionE2e, AStoppedTreeConversionLeavesNoTemporaryInAnyFolder) {
    const std::string work = freshDirectory("interrupted-tree");
    const std::vector<std::string> models = {"tree/a/m0.3ds", "tree/a/deep/m1.3ds", "tree/b/m2.3ds",
                                             "tree/b/c/d/m3.3ds", "tree/e/m4.3DS", "tree/e/f/m5.3ds"};
    for (const std::string& model : models) {
        std::filesystem::create_directories(std::filesystem::path(work + "/" + model).parent_path());
        std::filesystem::copy_file(largeModel(), work + "/" + model);
    }
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string out = "out-" + std::to_string(signal);
        LaunchOptions launch = kestravCommand({"-r", "-j", "2", "-d", out, "tree"});
        launch.workingDirectory = work;
        launch.ownProcessGroup = true;
        ChildProcess process(launch);
        ASSERT_TRUE(waitForAWrite(process, work + "/" + out)) << "the tree was converted before it was stopped";
        // Ctrl-C reaches the whole group, kill PID the parent alone.
        kill(signal == SIGINT ? -process.pid() : process.pid(), signal);
        const ProcessResult r = process.wait(60);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, signal) << r.err;
        EXPECT_EQ(temporariesBelow(work), std::vector<std::string>()) << signal << r.err;
        const std::vector<std::string> left = scenesBelow(work + "/" + out);
        EXPECT_LT(left.size(), models.size()) << signal;
        for (const std::string& scene : left)
            EXPECT_EQ(scene.rfind(work + "/" + out + "/tree/", 0), 0u) << scene;
    }
}

TEST(InterruptionE2e, RunningOutOfMemoryIsReportedAndKeepsTheOutput) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than any limit";
#endif
    const std::string dir = freshDirectory("out-of-memory");
    const std::string out = dir + "/scene.iv";
    writeFile(out, "old scene\n");
    // What the program and its libraries need depends on the machine: the
    // limit is the least, to a megabyte, at which a model without meshes
    // converts, plus a little, far below what the large model needs.
    const long megabyte = 1 << 20;
    long enough = 1024 * megabyte, tooLittle = 16 * megabyte;
    while (enough - tooLittle > megabyte) {
        const long middle = (enough + tooLittle) / 2;
        LaunchOptions probe = kestravCommand({emptyModel()});
        probe.addressSpaceLimit = middle;
        (runProcess(probe).exitStatus == 0 ? enough : tooLittle) = middle;
    }
    LaunchOptions launch = kestravCommand({largeModel(), out});
    launch.addressSpaceLimit = enough + 2 * megabyte;
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_EQ(r.err, "kestrav: not enough memory to convert \"" + largeModel() + "\"\n");
    EXPECT_EQ(readFile(out), "old scene\n");
    EXPECT_FALSE(temporaryIn(dir));
}

}  // namespace
