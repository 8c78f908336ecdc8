#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/KestravRun.h"
#include "tests/e2e/XvfbServer.h"

namespace {

const double kWindowTimeout = 60;

class ViewerE2e : public testing::Test {
protected:
    static void SetUpTestSuite() { server = new XvfbServer; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->running()) << "Xvfb could not be started"; }

    ProcessSpec withDisplay(const std::vector<std::string>& arguments) {
        return onDisplay(kestrav(arguments), server->displayName());
    }

    // Polls until the process shows its window, ends, or the time is up.
    TopLevelWindow waitForWindow(ChildProcess& process) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWindowTimeout);
        while (std::chrono::steady_clock::now() < deadline && !process.finished()) {
            const TopLevelWindow window = server->findWindow(process.pid());
            if (window.id) return window;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return TopLevelWindow();
    }

    static void expectExaminerViewer(const TopLevelWindow& window) {
        EXPECT_EQ(window.title, "Examiner Viewer");
        EXPECT_GT(window.childCount, 0) << "no viewer inside the main window";
        EXPECT_GE(window.width, 100);
        EXPECT_GE(window.height, 100);
        EXPECT_TRUE(window.acceptsDelete);
    }

    static XvfbServer* server;
};

XvfbServer* ViewerE2e::server = nullptr;

TEST_F(ViewerE2e, ViewOnlyShowsTheViewerWritesNothingAndEndsWhenClosed) {
    for (const char* flags : {"-v", "-ev"}) {
        const std::string out = freshDirectory("view-only") + "/scene" + flags + ".iv";
        ChildProcess process(withDisplay({flags, exampleModel(), out}));
        const TopLevelWindow window = waitForWindow(process);
        ASSERT_NE(window.id, 0u) << flags << ": no window appeared";
        expectExaminerViewer(window);
        EXPECT_FALSE(fileExists(out)) << flags;

        server->requestClose(window.id);
        const ProcessResult r = process.wait(kWindowTimeout);
        EXPECT_FALSE(r.timedOut) << flags << ": still running after WM_DELETE_WINDOW";
        EXPECT_EQ(r.exitStatus, 0) << flags;
        EXPECT_EQ(r.out, "") << flags;
        EXPECT_FALSE(fileExists(out)) << flags;
    }
}

TEST_F(ViewerE2e, ExamineWritesTheSceneBeforeTheWindowAppears) {
    const std::string scene = runProcess(kestrav({exampleModel()})).out;
    ASSERT_NE(scene, "");
    const std::string out = freshDirectory("examine") + "/scene.iv";
    ChildProcess process(withDisplay({"-e", exampleModel(), out}));
    const TopLevelWindow window = waitForWindow(process);
    ASSERT_NE(window.id, 0u) << "no window appeared";
    EXPECT_EQ(readFile(out), scene) << "the scene was not complete when the window appeared";
    expectExaminerViewer(window);

    server->requestClose(window.id);
    const ProcessResult r = process.wait(kWindowTimeout);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(readFile(out), scene);
}

TEST_F(ViewerE2e, PlainConversionWithDisplayMatchesNoDisplayAndShowsNothing) {
    for (const std::string& model : {exampleModel(), corpusModel("test1.3ds"), emptyModel()}) {
        const ProcessResult without = runProcess(kestrav({model}));
        ChildProcess process(withDisplay({model}));
        // A window that shows up at all is found here, or the run hangs on it.
        const TopLevelWindow window = waitForWindow(process);
        const ProcessResult with = process.wait(0);
        EXPECT_EQ(window.id, 0u) << model;
        EXPECT_FALSE(with.timedOut) << model;
        EXPECT_EQ(with.exitStatus, 0) << model;
        EXPECT_EQ(without.exitStatus, 0) << model;
        EXPECT_EQ(with.out, without.out) << model;
    }
}

TEST_F(ViewerE2e, HelpAndBadLinesEndBeforeAnyWindow) {
    const ProcessResult help = runProcess(withDisplay({"-h"}), kWindowTimeout);
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.out, kUsageText);
    const ProcessResult bad = runProcess(withDisplay({"-e"}), kWindowTimeout);
    EXPECT_EQ(bad.exitStatus, 2);
    EXPECT_EQ(bad.out, kUsageText);
    const ProcessResult unreadable = runProcess(withDisplay({"-e", "/nonexistent/model.3ds"}), kWindowTimeout);
    EXPECT_EQ(unreadable.exitStatus, 1);
    EXPECT_EQ(unreadable.err, kCannotReadText);
}

TEST_F(ViewerE2e, UnwritableOutputEndsTheRunWithoutTheViewer) {
    const std::string out = scratchDirectory() + "/no/such/directory/scene.iv";
    const ProcessResult r = runProcess(withDisplay({"-e", exampleModel(), out}), kWindowTimeout);
    EXPECT_FALSE(r.timedOut) << "the viewer was shown";
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "Cannot write the scene to \"" + out + "\": No such file or directory\n");
}

}  // namespace
