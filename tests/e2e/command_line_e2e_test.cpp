#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/e2e/KestravRun.h"

namespace {

TEST(CommandLineE2e, UsageTextAndExitStatus) {
    const std::string model = emptyModel();
    struct Case {
        std::vector<std::string> arguments;
        int status;
    };
    const std::vector<Case> cases = {
        {{}, 2},
        {{"-h"}, 0},
        {{"-h", "/nonexistent/model.3ds"}, 0},  // nothing is read
        {{"-fh", model, "out.iv"}, 0},
        {{"-e"}, 2},
        {{"-x", model}, 2},
        {{"-eq", model}, 2},
        {{model, "-v"}, 2},
        {{model, "a.iv", "b.iv"}, 2},
        {{"-d", "out"}, 2},
        {{"-v", "-d", "out", model}, 2},
        {{"-d", "out", "-e", model}, 2},
        {{"-j", "2", model}, 2},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.arguments) shown += " [" + a + "]";
        const ProcessResult r = runProcess(kestravCommand(c.arguments));
        ASSERT_FALSE(r.timedOut) << shown;
        EXPECT_EQ(r.exitStatus, c.status) << shown;
        EXPECT_EQ(r.out, kUsageText) << shown;
        EXPECT_EQ(r.err, "") << shown;
    }
}

TEST(ConversionE2e, ModelWithoutMeshesGivesTheEmptyRoot) {
    const ProcessResult r = runProcess(kestravCommand({emptyModel()}));
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kEmptySceneText);
    EXPECT_EQ(r.err, "");
}

TEST(ConversionE2e, UnreadableInputIsReportedAndWritesNothing) {
    const std::string unreadable = freshDirectory("unreadable") + "/secret.3ds";
    writeFile(unreadable, "");
    chmod(unreadable.c_str(), 0);
    const std::string out = freshDirectory("unreadable-out") + "/out.iv";

    const std::vector<LaunchOptions> runs = {
        kestravCommand({"/nonexistent/model.3ds"}),
        kestravCommand({"/nonexistent/model.3ds", out}),
        kestravCommand({""}),
        kestravCommand({"-e", "/nonexistent/model.3ds", out}),
        kestravUnprivileged({unreadable, out}),
    };
    for (const LaunchOptions& launch : runs) {
        const ProcessResult r = runProcess(launch);
        EXPECT_EQ(r.exitStatus, 1) << launch.argv[1];
        EXPECT_EQ(r.err, kCannotReadText) << launch.argv[1];
        EXPECT_EQ(r.out, "") << launch.argv[1];
        EXPECT_FALSE(fileExists(out)) << launch.argv[1];
    }
}

TEST(ConversionE2e, FileAndStandardOutputGetTheSameScene) {
    for (const std::string& model : {exampleModel(), corpusModel("test1.3ds")}) {
        // Image names resolve from the output's folder, or the current
        // directory for standard output: here both are the same folder.
        const std::string directory = freshDirectory("same-scene");
        LaunchOptions toFileLaunch = kestravCommand({model, "scene.iv"});
        LaunchOptions toStdoutLaunch = kestravCommand({model});
        toFileLaunch.workingDirectory = toStdoutLaunch.workingDirectory = directory;
        const std::string out = directory + "/scene.iv";
        const ProcessResult toFile = runProcess(toFileLaunch);
        const ProcessResult toStdout = runProcess(toStdoutLaunch);
        EXPECT_EQ(toFile.exitStatus, 0) << model;
        EXPECT_EQ(toStdout.exitStatus, 0) << model;
        EXPECT_EQ(toFile.out, "") << model;
        // The corpus model's images are found beside it, under other names.
        EXPECT_EQ(toFile.err, toStdout.err) << model;
        EXPECT_EQ(readFile(out), toStdout.out) << model;
        EXPECT_EQ(toStdout.out.rfind("#Inventor V2.1 ascii\n\n", 0), 0u) << model;
    }
}

TEST(ConversionE2e, ViewerWithoutDisplayWritesWhatExamineWritesThenFails) {
    const std::string model = exampleModel();
    const std::string dir = freshDirectory("no-display");
    const std::string scene = runProcess(kestravCommand({model})).out;
    ASSERT_NE(scene, "");

    // -v writes nothing, also together with -e.
    for (const char* flags : {"-v", "-ev", "-ve"}) {
        const std::string out = dir + "/view" + flags + ".iv";
        const ProcessResult toFile = runProcess(kestravCommand({flags, model, out}));
        EXPECT_EQ(toFile.exitStatus, 1) << flags;
        EXPECT_EQ(toFile.err, kNoDisplayText) << flags;
        EXPECT_EQ(toFile.out, "") << flags;
        EXPECT_FALSE(fileExists(out)) << flags;
        const ProcessResult toStdout = runProcess(kestravCommand({flags, model}));
        EXPECT_EQ(toStdout.exitStatus, 1) << flags;
        EXPECT_EQ(toStdout.out, "") << flags;
    }

    const std::string out = dir + "/examine.iv";
    const ProcessResult toFile = runProcess(kestravCommand({"-e", model, out}));
    EXPECT_EQ(toFile.exitStatus, 1);
    EXPECT_EQ(toFile.err, kNoDisplayText);
    EXPECT_EQ(readFile(out), scene);
    const ProcessResult toStdout = runProcess(kestravCommand({"-e", model}));
    EXPECT_EQ(toStdout.exitStatus, 1);
    EXPECT_EQ(toStdout.out, scene);
    EXPECT_EQ(toStdout.err, kNoDisplayText);
}

TEST(ConversionE2e, DisplayThatCannotBeOpenedIsLikeNoDisplay) {
    // No server listens on this display number.
    const std::string unreachable = ":64999";
    for (const std::string& model : {exampleModel(), corpusModel("test1.3ds"), emptyModel()}) {
        const ProcessResult without = runProcess(kestravCommand({model}));
        const ProcessResult unopened = runProcess(onDisplay(kestravCommand({model}), unreachable));
        EXPECT_EQ(without.exitStatus, 0) << model;
        EXPECT_EQ(unopened.exitStatus, 0) << model;
        EXPECT_EQ(unopened.err, without.err) << model;
        EXPECT_EQ(unopened.out, without.out) << model;
    }
    const ProcessResult viewer = runProcess(onDisplay(kestravCommand({"-v", exampleModel()}), unreachable));
    EXPECT_EQ(viewer.exitStatus, 1);
    EXPECT_EQ(viewer.err, kNoDisplayText);
}

}  // namespace
