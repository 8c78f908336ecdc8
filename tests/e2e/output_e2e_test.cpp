#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/e2e/KestravRun.h"
#include "tools/writer/HeightField.h"

namespace {

std::string failureText(const std::string& target, const std::string& reason) {
    return "Cannot write the scene to " + target + ": " + reason + "\n";
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

mode_t modeOf(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

int entryCount(const std::string& directory) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(OutputFailureE2e, MissingDirectoryIsReportedAndNothingGoesToStdout) {
    const std::string out = scratchDirectory() + "/no/such/directory/out.iv";
    const ProcessResult r = runProcess(kestravCommand({exampleModel(), out}));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, failureText(quoted(out), "No such file or directory"));
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fileExists(out));
}

TEST(OutputFailureE2e, DirectoryWithoutWritePermission) {
    const std::string dir = freshDirectory("read-only");
    const std::string kept = dir + "/kept.iv";
    writeFile(kept, "old scene\n");
    chmod(kept.c_str(), 0644);
    chmod(dir.c_str(), 0555);

    for (const std::string& out : {dir + "/new.iv", kept}) {
        const ProcessResult r = runProcess(kestravUnprivileged({emptyModel(), out}));
        EXPECT_EQ(r.exitStatus, 1) << out;
        EXPECT_EQ(r.err, failureText(quoted(out), "Permission denied")) << out;
        EXPECT_EQ(r.out, "") << out;
    }
    EXPECT_FALSE(fileExists(dir + "/new.iv"));
    EXPECT_EQ(readFile(kept), "old scene\n");
    EXPECT_EQ(entryCount(dir), 1);
    chmod(dir.c_str(), 0755);
}

TEST(OutputFailureE2e, FullDeviceAsTargetOrAsStandardOutput) {
    const ProcessResult target = runProcess(kestravCommand({emptyModel(), "/dev/full"}));
    EXPECT_EQ(target.exitStatus, 1);
    EXPECT_EQ(target.err, failureText("\"/dev/full\"", "No space left on device"));
    EXPECT_EQ(target.out, "");
    struct stat status;
    ASSERT_EQ(stat("/dev/full", &status), 0);
    EXPECT_TRUE(S_ISCHR(status.st_mode)) << "/dev/full was replaced";

    LaunchOptions toStdout = kestravCommand({emptyModel()});
    toStdout.stdoutPath = "/dev/full";
    const ProcessResult r = runProcess(toStdout);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, failureText("standard output", "No space left on device"));
}

// A reader that stops early (| head) ends the run as it ends cat's, without a
// line; the status says that not all of the scene was written.
TEST(OutputFailureE2e, StandardOutputClosedByItsReaderEndsQuietlyWithStatusOne) {
    const std::string model = freshDirectory("closed-stdout") + "/large.3ds";
    const kestrav::Bytes bytes = kestrav::limitMeshModel();
    writeFile(model, std::string(bytes.begin(), bytes.end()));
    for (const char* options : {"-f", "-B"}) {
        LaunchOptions shell;
        shell.argv = {"/bin/bash", "-c", "\"$0\" $1 \"$2\" | head -c 100 >/dev/null; exit ${PIPESTATUS[0]}",
                      KESTRAV_BINARY, options, model};
        const ProcessResult r = runProcess(shell);
        EXPECT_EQ(r.exitStatus, 1) << options;
        EXPECT_EQ(r.err, "") << options;
    }
}

TEST(OutputFailureE2e, FailedWriteLeavesTheExistingFileWhole) {
    const std::string dir = freshDirectory("fsize");
    const std::string out = dir + "/scene.iv";
    const std::string previous = "#Inventor V2.1 ascii\n\n# the previous scene, longer than the limit\n";
    writeFile(out, previous);
    chmod(out.c_str(), 0640);

    // Every write past 1 KiB fails, as on a full disk; the message still fits.
    LaunchOptions launch = kestravCommand({exampleModel(), out});
    launch.fileSizeLimit = 1024;
    ASSERT_GT(runProcess(kestravCommand({exampleModel()})).out.size(), 1024u);
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, failureText(quoted(out), "File too large"));
    EXPECT_EQ(readFile(out), previous);
    EXPECT_EQ(modeOf(out), 0640u);
    EXPECT_EQ(entryCount(dir), 1) << "the temporary file was left behind";
}

TEST(OutputE2e, ReplacedFileKeepsItsPermissionsAndLosesItsOldTail) {
    const std::string dir = freshDirectory("replace");
    for (mode_t mode : {0640, 0604, 0600}) {
        const std::string out = dir + "/scene" + std::to_string(mode) + ".iv";
        writeFile(out, std::string(4096, 'x'));
        chmod(out.c_str(), mode);
        const ProcessResult r = runProcess(kestravCommand({emptyModel(), out}));
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(readFile(out), kEmptySceneText);
        EXPECT_EQ(modeOf(out), mode);
    }
    EXPECT_EQ(entryCount(dir), 3);
}

TEST(OutputE2e, NewFileFollowsTheUmask) {
    const std::string dir = freshDirectory("umask");
    for (mode_t mask : {022, 027, 0}) {
        const std::string out = dir + "/scene" + std::to_string(mask) + ".iv";
        LaunchOptions launch = kestravCommand({emptyModel(), out});
        launch.umask = mask;
        EXPECT_EQ(runProcess(launch).exitStatus, 0);
        EXPECT_EQ(modeOf(out), 0666u & ~mask);
        EXPECT_EQ(readFile(out), kEmptySceneText);
    }
}

TEST(OutputE2e, SymbolicLinkKeepsPointingAtTheReplacedFile) {
    const std::string dir = freshDirectory("symlink");
    const std::string real = dir + "/real.iv";
    const std::string link = dir + "/link.iv";
    writeFile(real, "old\n");
    ASSERT_EQ(symlink("real.iv", link.c_str()), 0);
    EXPECT_EQ(runProcess(kestravCommand({emptyModel(), link})).exitStatus, 0);
    struct stat status;
    ASSERT_EQ(lstat(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(readFile(real), kEmptySceneText);
}

TEST(OutputE2e, DevStdoutIsWrittenThroughNotReplaced) {
    const std::string captured = freshDirectory("dev-stdout") + "/captured.txt";
    LaunchOptions launch = kestravCommand({emptyModel(), "/dev/stdout"});
    launch.stdoutPath = captured;
    struct stat before;
    writeFile(captured, "");
    ASSERT_EQ(stat(captured.c_str(), &before), 0);

    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(readFile(captured), kEmptySceneText);
    struct stat after;
    ASSERT_EQ(stat(captured.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file behind standard output was replaced";
    ASSERT_EQ(lstat("/dev/stdout", &after), 0);
    EXPECT_TRUE(S_ISLNK(after.st_mode)) << "/dev/stdout was replaced";
}

TEST(OutputE2e, NamedPipeIsWrittenInPlace) {
    const std::string fifo = freshDirectory("fifo") + "/scene.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    // Holding the read end open lets the writer open it at once; the scene is
    // far smaller than the pipe's buffer.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const ProcessResult r = runProcess(kestravCommand({emptyModel(), fifo}));
    std::string received;
    char buffer[4096];
    for (ssize_t n; (n = read(reader, buffer, sizeof buffer)) > 0;) received.append(buffer, size_t(n));
    close(reader);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(received, kEmptySceneText);
    struct stat status;
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
}

}  // namespace
