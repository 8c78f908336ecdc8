#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"

using namespace kestrav;

namespace {

const std::vector<std::string> kCorpusModels = {"test1.3ds", "cubes_with_alpha.3DS", "fels.3ds",
                                                "RotatingCube.3DS", "cube_with_diffuse_texture.3DS"};

// The corpus models and their images copied to a folder of their own, with a
// model damaged inside a chunk beside them.
std::string modelFolder(const std::string& name) {
    const std::string folder = freshDirectory(name);
    for (const auto& entry : std::filesystem::directory_iterator(corpusModel(".")))
        std::filesystem::copy_file(entry.path(), folder + "/" + entry.path().filename().string(),
                                   std::filesystem::copy_options::overwrite_existing);
    const Bytes damaged = sevenPointFlagsModel();
    writeFile(folder + "/damaged.3ds", std::string(damaged.begin(), damaged.end()));
    return folder;
}

std::vector<std::string> leftovers(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind(".kestrav-", 0) == 0) names.push_back(entry.path().string());
    return names;
}

TEST(BatchE2e, GoodFilesComeOutAsTheirSingleConversionsAndFailuresAreNamed) {
    const std::string models = modelFolder("batch-models");
    std::vector<std::string> arguments = {"-d", "out/"};
    for (const std::string& name : kCorpusModels) arguments.push_back(name);
    arguments.push_back("damaged.3ds");
    arguments.push_back("missing.3ds");
    LaunchOptions batch = kestravCommand(arguments);
    batch.workingDirectory = models;
    const ProcessResult r = runProcess(batch);

    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("missing.3ds: " + std::string(kCannotReadText)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("damaged.3ds: Warning: \"damaged.3ds\" is damaged"), std::string::npos) << r.err;
    const std::string summaryStart = "kestrav: 6 converted (1 with damaged parts skipped), 1 failed: missing.3ds; ";
    EXPECT_NE(r.err.find("\n" + summaryStart), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "no progress line into a pipe";
    EXPECT_FALSE(fileExists(models + "/out/missing.iv"));
    EXPECT_TRUE(leftovers(models + "/out").empty());

    std::vector<std::string> singles = kCorpusModels;
    singles.push_back("damaged.3ds");
    for (const std::string& name : singles) {
        const std::string scene = name.substr(0, name.rfind('.')) + ".iv";
        LaunchOptions single = kestravCommand({name, "single/" + scene});
        single.workingDirectory = models;
        std::filesystem::create_directories(models + "/single");
        const ProcessResult one = runProcess(single);
        ASSERT_EQ(one.exitStatus, 0) << name;
        EXPECT_EQ(readFile(models + "/out/" + scene), readFile(models + "/single/" + scene)) << name;
        // Each of its lines, named, in the order the single run printed them.
        std::string named;
        size_t start = 0;
        for (size_t end; (end = one.err.find('\n', start)) != std::string::npos; start = end + 1)
            named += name + ": " + one.err.substr(start, end + 1 - start);
        EXPECT_NE(r.err.find(named), std::string::npos) << name << "\n" << named;
    }
}

TEST(BatchE2e, AWorkerThatDiesCostsOnlyTheFileItWasConverting) {
    const std::string models = modelFolder("batch-crash");
    std::filesystem::copy_file(models + "/test1.3ds", models + "/crash.3ds");
    LaunchOptions real = kestravCommand({"-d", "real", "fels.3ds", "RotatingCube.3DS", "cubes_with_alpha.3DS"});
    real.workingDirectory = models;
    ASSERT_EQ(runProcess(real).exitStatus, 0);
    for (const char* workers : {"1", "2"}) {
        const std::string out = models + "/out" + workers;
        // The batch of the real program, whose worker aborts when handed crash.3ds.
        LaunchOptions batch = kestravCommand({"-j", workers, "-d", out, "fels.3ds", "crash.3ds", "RotatingCube.3DS",
                                              "cubes_with_alpha.3DS"});
        batch.argv[0] = CRASHING_BATCH_BINARY;
        batch.workingDirectory = models;
        const ProcessResult r = runProcess(batch);
        EXPECT_EQ(r.exitStatus, 1) << r.err;
        EXPECT_NE(r.err.find("crash.3ds: its conversion was ended by signal " + std::to_string(SIGABRT)),
                  std::string::npos) << r.err;
        EXPECT_NE(r.err.find("kestrav: 3 converted, 1 failed: crash.3ds; "), std::string::npos) << r.err;
        EXPECT_FALSE(fileExists(out + "/crash.iv"));
        for (const char* scene : {"/fels.iv", "/RotatingCube.iv", "/cubes_with_alpha.iv"}) {
            EXPECT_TRUE(fileExists(out + scene)) << workers << scene;
            EXPECT_EQ(readFile(out + scene), readFile(models + "/real" + scene)) << workers << scene;
        }
        EXPECT_TRUE(leftovers(out).empty());
    }
}

TEST(BatchE2e, AWorkerKilledWhileWritingLeavesNoPartOfItsScene) {
    const std::string models = modelFolder("batch-killed");
    const std::string out = freshDirectory("batch-killed/out");
    writeFile(out + "/.kestrav-other1", "another run's");
    // fels.iv is 75 kB and CameraRollAnim.iv under 4 kB.
    LaunchOptions batch = kestravCommand({"-j", "1", "-d", out, "fels.3ds", "CameraRollAnim.3ds"});
    batch.workingDirectory = models;
    batch.fileSizeLimit = 4096;
    batch.killPastFileSizeLimit = true;
    const ProcessResult r = runProcess(batch);
    EXPECT_EQ(r.exitStatus, 1) << r.err;
    EXPECT_NE(r.err.find("fels.3ds: its conversion was ended by signal " + std::to_string(SIGXFSZ)),
              std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(out + "/fels.iv"));
    EXPECT_TRUE(fileExists(out + "/CameraRollAnim.iv"));
    EXPECT_EQ(leftovers(out), std::vector<std::string>{out + "/.kestrav-other1"});
}

TEST(BatchE2e, InputsThatWouldShareAnOutputAreRefusedBeforeAnythingIsWritten) {
    const std::string models = modelFolder("batch-clash");
    std::filesystem::create_directories(models + "/other");
    std::filesystem::copy_file(models + "/fels.3ds", models + "/other/fels.3DS");
    LaunchOptions batch = kestravCommand({"-d", "out", "test1.3ds", "fels.3ds", "other/fels.3DS"});
    batch.workingDirectory = models;
    const ProcessResult r = runProcess(batch);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_EQ(r.err,
              "kestrav: \"fels.3ds\" and \"other/fels.3DS\" would both be written to \"out/fels.iv\".\n"
              "kestrav: nothing was converted.\n");
    EXPECT_FALSE(fileExists(models + "/out"));
}

// stderr alone on a pseudo-terminal, as when a person watches the run.
std::string stderrOnTerminal(const std::string& directory, const std::vector<std::string>& arguments, int& status) {
    int terminal = -1, side = -1;
    winsize size{};
    size.ws_col = 60;
    size.ws_row = 24;
    if (openpty(&terminal, &side, nullptr, nullptr, &size) != 0) return "";
    const pid_t child = fork();
    if (child == 0) {
        dup2(side, STDERR_FILENO);
        close(terminal);
        close(side);
        if (chdir(directory.c_str()) != 0) _exit(127);
        std::vector<char*> argv{const_cast<char*>(KESTRAV_BINARY)};
        for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        unsetenv("DISPLAY");
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(side);
    std::string text;
    char block[4096];
    // Linux ends reads of a terminal whose other side has closed with EIO.
    for (ssize_t n; (n = read(terminal, block, sizeof block)) > 0;) text.append(block, size_t(n));
    close(terminal);
    int waitStatus = 0;
    waitpid(child, &waitStatus, 0);
    status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : -1;
    return text;
}

TEST(BatchE2e, ProgressIsDrawnOnlyOnATerminal) {
    const std::string models = modelFolder("batch-progress");
    int status = -1;
    const std::string shown =
        stderrOnTerminal(models, {"-j", "1", "-d", "out", "fels.3ds", "missing.3ds", "RotatingCube.3DS"}, status);
    EXPECT_EQ(status, 1);
    // A terminal turns each newline into a carriage return and a newline.
    for (const char* drawn : {"\r\033[K[1/3] fels.3ds ", "\r\033[Kmissing.3ds: Cannon create database",
                              "\r\033[K[2/3] missing.3ds ", "\r\033[K[3/3] RotatingCube.3DS ",
                              "\r\033[Kkestrav: 2 converted, 1 failed: missing.3ds; "})
        EXPECT_NE(shown.find(drawn), std::string::npos) << drawn << "\n" << shown;
    // Every redrawn line fits the 60 columns, or it would wrap and could not be redrawn.
    for (size_t start = 0, end; (end = shown.find("\r\033[K[", start)) != std::string::npos; start = end + 1)
        EXPECT_LT(shown.find_first_of("\r\n", end + 1) - end - 4, 60u);

    LaunchOptions piped = kestravCommand({"-j", "1", "-d", "out", "fels.3ds", "missing.3ds", "RotatingCube.3DS"});
    piped.workingDirectory = models;
    const ProcessResult r = runProcess(piped);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err.substr(0, r.err.find("; ")),
              "missing.3ds: Cannon create database from this 3ds file.\n"
              "missing.3ds: Cannot read \"missing.3ds\": No such file or directory\n"
              "kestrav: 2 converted, 1 failed: missing.3ds");
}

}  // namespace
