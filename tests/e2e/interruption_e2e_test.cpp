#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

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

TEST(InterruptionE2e, SignalWhileWritingLeavesTheOldOutputAndNoTemporary) {
    const std::string dir = freshDirectory("interrupted");
    const std::string out = dir + "/scene.iv";
    writeFile(out, "old scene\n");
    LaunchOptions launch = kestravCommand({"-f", largeModel(), out});
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

// Ctrl-C on a batch reaches every worker, and each removes the scene it was writing.
TEST(InterruptionE2e, InterruptedBatchLeavesNoTemporary) {
    const std::string dir = freshDirectory("interrupted-batch");
    const std::string models = freshDirectory("interrupted-batch-models");
    std::vector<std::string> arguments = {"-j", "2", "-d", dir};
    for (int i = 0; i < 6; ++i) {
        const std::string copy = models + "/large" + std::to_string(i) + ".3ds";
        writeFile(copy, readFile(largeModel()));
        arguments.push_back(copy);
    }
    LaunchOptions launch = kestravCommand(arguments);
    launch.ownProcessGroup = true;
    ChildProcess process(launch);
    bool seen = false;
    for (int tries = 0; tries < 200000 && !seen && !process.finished(); ++tries) {
        seen = temporaryIn(dir);
        if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(seen) << "the batch ended before a write could be interrupted";
    kill(-process.pid(), SIGINT);
    const ProcessResult r = process.wait(60);
    ASSERT_FALSE(r.timedOut);
    EXPECT_EQ(r.signal, SIGINT);
    // The workers may still be removing theirs as the parent ends.
    for (int tries = 0; tries < 100 && temporaryIn(dir); ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(temporaryIn(dir)) << r.err;
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
