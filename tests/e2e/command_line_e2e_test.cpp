#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/KestravRun.h"

namespace {

TEST(CommandLineE2e, HelpAndVersionOnStandardOutput) {
    const std::string model = emptyModel();
    const std::vector<std::vector<std::string>> helpLines = {
        {"-h"}, {"--help"}, {"-h", "/nonexistent/model.3ds"}, {"-fh", model, "out.iv"}, {"--help", "-x"}};
    for (const auto& arguments : helpLines) {
        const ProcessResult r = runProcess(kestravCommand(arguments));
        EXPECT_EQ(r.exitStatus, 0) << arguments[0];
        EXPECT_EQ(r.out, kUsageText) << arguments[0];
        EXPECT_EQ(r.err, "") << arguments[0];
    }
    const ProcessResult version = runProcess(kestravCommand({"--version"}));
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "kestrav " KESTRAV_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

TEST(CommandLineE2e, MalformedLineSaysWhatIsWrongOnStandardError) {
    const std::string model = emptyModel();
    struct Case {
        std::vector<std::string> arguments;
        std::string fault;
    };
    std::vector<Case> cases = {
        {{}, "kestrav: no input file"},
        {{"-e"}, "kestrav: no input file"},
        {{"-x", model}, "kestrav: unknown option -x"},
        {{"-eq", model}, "kestrav: unknown option -q"},
        {{"--verbose", model}, "kestrav: unknown option --verbose"},
        {{model, "-f"}, "kestrav: option -f after a file name; options come first"},
        {{model, "a.iv", "b.iv"}, "kestrav: too many file names, from b.iv on; give an input and at most one output"},
        {{"-d", "out"}, "kestrav: no input file"},
        {{"-v", "-d", "out", model}, "kestrav: -e and -v show one model and cannot go with -d"},
        {{"-d", "out", "-e", model}, "kestrav: -e and -v show one model and cannot go with -d"},
        {{"-d", "out", model, "-f"}, "kestrav: option -f after a file name; options come first"},
        {{"-j", "0", "-d", "out", model}, "kestrav: option -j needs a number of threads from 1 to 1024"},
        {{"-j", "1025", model}, "kestrav: option -j needs a number of threads from 1 to 1024"},
        {{"-d"}, "kestrav: option -d needs a folder"},
        {{"-d", "out", "-fd", "other", model}, "kestrav: -d given twice; a batch has one output folder"},
        {{"-dout", "-d", "out", model}, "kestrav: -d given twice; a batch has one output folder"},
    };
    // A lone -, before the file names or after them, in a batch or not.
    const std::string loneDash =
        "kestrav: - is not a file name here; name the input file, and leave outfile out for standard output";
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"-", model}, {"-f", "-", model}, {model, "-"}, {"-d", "out", "-", model}, {"-d", "out", model, "-"}})
        cases.push_back({arguments, loneDash});
    for (const Case& c : cases) {
        const ProcessResult r = runProcess(kestravCommand(c.arguments));
        ASSERT_FALSE(r.timedOut) << c.fault;
        EXPECT_EQ(r.exitStatus, 2) << c.fault;
        EXPECT_EQ(r.err, c.fault + "\n" + kUsageText);
        EXPECT_EQ(r.out, "") << c.fault;
    }
}

TEST(CommandLineE2e, DoubleDashEndsTheOptions) {
    const std::string dir = freshDirectory("double-dash");
    writeFile(dir + "/-odd.3ds", readFile(emptyModel()));
    LaunchOptions launch = kestravCommand({"--", "-odd.3ds", "-odd.iv"});
    launch.workingDirectory = dir;
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(readFile(dir + "/-odd.iv"), kEmptySceneText);
    // After --, even a lone - is a file's name.
    writeFile(dir + "/-", readFile(emptyModel()));
    LaunchOptions dash = kestravCommand({"--", "-", "dash.iv"});
    dash.workingDirectory = dir;
    EXPECT_EQ(runProcess(dash).exitStatus, 0);
    EXPECT_EQ(readFile(dir + "/dash.iv"), kEmptySceneText);
}

TEST(ConversionE2e, ModelWithoutMeshesGivesTheEmptyRoot) {
    const ProcessResult r = runProcess(kestravCommand({emptyModel()}));
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.out, kEmptySceneText);
    EXPECT_EQ(r.err, "");
}

TEST(ConversionE2e, UnreadableInputIsReportedAndWritesNothing) {
    const std::string unreadable = freshDirectory("unreadable") + "/secret.3ds";
    writeFile(unreadable, readFile(emptyModel()));
    chmod(unreadable.c_str(), 0);
    const std::string folder = freshDirectory("folder.3ds");
    const std::string empty = freshDirectory("unreadable") + "/empty.3ds";
    writeFile(empty, "");
    const std::string png = corpusModel("test.png");
    const std::string out = freshDirectory("unreadable-out") + "/out.iv";
    const std::string missing = "/nonexistent/model.3ds";

    struct Case {
        LaunchOptions launch;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {kestravCommand({missing}), "Cannot read \"" + missing + "\": No such file or directory"},
        {kestravCommand({missing, out}), "Cannot read \"" + missing + "\": No such file or directory"},
        {kestravCommand({""}), "Cannot read \"\": No such file or directory"},
        {kestravCommand({"-e", missing, out}), "Cannot read \"" + missing + "\": No such file or directory"},
        {kestravUnprivileged({unreadable, out}), "Cannot read \"" + unreadable + "\": Permission denied"},
        {kestravCommand({folder, out}), "Cannot read \"" + folder + "\": Is a directory"},
        {kestravCommand({empty, out}), "\"" + empty + "\" is empty, not a 3DS model"},
        {kestravCommand({png, out}), "\"" + png + "\" is not a 3DS model"},
    };
    for (const Case& c : cases) {
        const ProcessResult r = runProcess(c.launch);
        EXPECT_EQ(r.exitStatus, 1) << c.reason;
        EXPECT_EQ(r.err, kCannotReadText + c.reason + "\n");
        EXPECT_EQ(r.out, "") << c.reason;
        EXPECT_FALSE(fileExists(out)) << c.reason;
    }
}

TEST(ConversionE2e, OutputThatIsTheInputIsRefused) {
    const std::string dir = freshDirectory("same-file");
    const std::string model = dir + "/model.3ds";
    const std::string bytes = readFile(corpusModel("test1.3ds"));
    writeFile(model, bytes);
    const std::string link = dir + "/link.3ds";
    symlink("model.3ds", link.c_str());
    for (const std::string& out : {model, link, dir + "/../same-file/model.3ds"}) {
        const ProcessResult r = runProcess(kestravCommand({model, out}));
        EXPECT_EQ(r.exitStatus, 1) << out;
        EXPECT_EQ(r.err, "kestrav: the output \"" + out + "\" is the input file \"" + model + "\"; nothing was written\n");
        EXPECT_EQ(readFile(model), bytes) << out;
    }
    struct stat status;
    EXPECT_EQ(lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));

    // Standard output opened by the shell on the model itself: read and
    // written in place, or appended to.
    for (const char* script : {"exec \"$0\" \"$1\" 1<>\"$1\"", "exec \"$0\" \"$1\" >>\"$1\"",
                               "exec \"$0\" -B \"$1\" 1<>\"$1\""}) {
        LaunchOptions shell;
        shell.argv = {"/bin/sh", "-c", script, KESTRAV_BINARY, model};
        const ProcessResult r = runProcess(shell);
        EXPECT_EQ(r.exitStatus, 1) << script;
        EXPECT_EQ(r.err, "kestrav: the output \"/dev/stdout\" is the input file \"" + model + "\"; nothing was written\n")
            << script;
        EXPECT_EQ(readFile(model), bytes) << script;
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

// Started through a link in another folder, with no /proc to ask where the
// program lies (a chroot, a sandbox), it still finds the converter beside
// itself and writes the scene it writes anywhere else.
TEST(ConversionE2e, WithoutProcTheProgramStillFindsItsConverter) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers' runtimes cannot run without /proc";
#endif
    const std::string directory = freshDirectory("no-proc");
    mkdir((directory + "/bin").c_str(), 0755);
    mkdir((directory + "/links").c_str(), 0755);
    copyProgram(directory + "/bin/kestrav");
    ASSERT_EQ(symlink("../bin/kestrav", (directory + "/links/kestrav").c_str()), 0);
    // An empty /proc in a mount namespace of its own, where the system allows one.
    const std::string hideProc = "mount -t tmpfs none /proc && exec \"$@\"";
    LaunchOptions probe;
    probe.argv = {"/usr/bin/unshare", "-rm", "sh", "-c", "mount -t tmpfs none /proc && test ! -e /proc/self"};
    if (runProcess(probe).exitStatus != 0) GTEST_SKIP() << "no mount namespace can be made here";

    LaunchOptions launch;
    launch.argv = {"/usr/bin/unshare", "-rm", "sh", "-c", hideProc, "sh", "links/kestrav", exampleModel(), "scene.iv"};
    launch.workingDirectory = directory;
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    LaunchOptions withProc = kestravCommand({exampleModel(), "expected.iv"});
    withProc.workingDirectory = directory;
    ASSERT_EQ(runProcess(withProc).exitStatus, 0);
    EXPECT_EQ(readFile(directory + "/scene.iv"), readFile(directory + "/expected.iv"));
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

    // Nothing is read when nothing can be shown.
    const ProcessResult unread = runProcess(kestravCommand({"-v", "/nonexistent/model.3ds"}));
    EXPECT_EQ(unread.exitStatus, 1);
    EXPECT_EQ(unread.err, kNoDisplayText);

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
