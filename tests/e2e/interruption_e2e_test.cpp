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

bool temporaryIn(const std::string& directory) {
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.path().filename().string().rfind(".kestrav-", 0) == 0) return true;
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
        bool seen = false;
        for (int tries = 0; tries < 200000 && !seen && !process.finished(); ++tries) {
            seen = temporaryIn(dir);
            if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_TRUE(seen) << "the run ended before its write could be interrupted";
        kill(process.pid(), SIGTERM);
        const ProcessResult r = process.wait(60);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, SIGTERM);
        EXPECT_FALSE(temporaryIn(dir)) << r.err;
        EXPECT_EQ(readFile(out), "old scene\n");
    }
}

std::vector<std::string> scenesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) names.push_back(entry.path().string());
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
        bool seen = false;
        for (int tries = 0; tries < 200000 && !seen && !process.finished(); ++tries) {
            seen = temporaryIn(dir);
            if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_TRUE(seen) << "the batch ended before a write could be interrupted";
        kill(stop.wholeGroup ? -process.pid() : process.pid(), stop.signal);
        const ProcessResult r = process.wait(60);
        ASSERT_FALSE(r.timedOut);
        EXPECT_EQ(r.signal, stop.signal) << r.err;
        EXPECT_FALSE(temporaryIn(dir)) << stop.signal << r.err;
        const std::vector<std::string> left = scenesIn(dir);
        EXPECT_LT(left.size(), inputs.size()) << stop.signal;
        // A worker still running would go on to write its scene.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        EXPECT_EQ(scenesIn(dir), left) << stop.signal;
    }
}

TEST(InterruptionE2e, RunningOutOfMemoryIsReportedAndKeepsTheOutput) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit";
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
