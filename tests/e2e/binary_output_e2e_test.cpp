// kestrav -B: the binary scene goes to a file or to standard output, fails as
// the ASCII one does, and other readers take it for the scene the ASCII text
// holds.

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoOutput.h>
#include <Inventor/actions/SoWriteAction.h>
#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>

#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

const std::string kBinaryHeader = "#Inventor V2.1 binary  \n";

// The scene Coin reads from the bytes, written again as ASCII; empty when Coin
// cannot read them.
std::string asCoinReadsIt(const std::string& bytes) {
    SoDB::init();
    SoInput input;
    input.setBuffer(bytes.data(), bytes.size());
    SoSeparator* scene = SoDB::readAll(&input);
    if (!scene) return "";
    scene->ref();
    SoOutput output;
    output.setBuffer(std::malloc(4096), 4096, std::realloc);
    SoWriteAction(&output).apply(scene);
    void* text = nullptr;
    size_t size = 0;
    output.getBuffer(text, size);
    const std::string written(static_cast<const char*>(text), size);
    // The buffer stays the caller's.
    std::free(text);
    scene->unref();
    return written;
}

TEST(BinaryOutputE2e, FileAndStandardOutputGetTheSameBinaryScene) {
    const std::string dir = freshDirectory("binary-out");
    const std::string out = dir + "/cube.iv", ascii = dir + "/cube-ascii.iv";
    const ProcessResult toFile = runProcess(kestravCommand({"-B", exampleModel(), out}));
    ASSERT_EQ(toFile.exitStatus, 0) << toFile.err;
    EXPECT_EQ(toFile.err, "");
    EXPECT_EQ(toFile.out, "");
    const ProcessResult toStdout = runProcess(kestravCommand({"-B", exampleModel()}));
    ASSERT_EQ(toStdout.exitStatus, 0) << toStdout.err;
    ASSERT_EQ(runProcess(kestravCommand({exampleModel(), ascii})).exitStatus, 0);

    const std::string binary = readFile(out);
    EXPECT_EQ(binary.compare(0, kBinaryHeader.size(), kBinaryHeader), 0);
    EXPECT_TRUE(toStdout.out == binary);
    // Coin reads the binary scene back to the very scene of the ASCII text.
    const std::string fromBinary = asCoinReadsIt(binary), fromAscii = asCoinReadsIt(readFile(ascii));
    EXPECT_GT(fromAscii.size(), 500u);
    EXPECT_EQ(fromBinary, fromAscii);
}

// A damaged model converts in binary as in ASCII: the same warning and status,
// and Coin reads the same scene from both files.
TEST(BinaryOutputE2e, DamagedModelsGiveTheSameWarningsAndScenes) {
    const std::string dir = freshDirectory("binary-damaged");
    const Bytes whole = facesPastChunkModel(true);
    const std::string damaged = dir + "/damaged.3ds", truncated = dir + "/truncated.3ds";
    writeFile(damaged, std::string(whole.begin(), whole.end()));
    writeFile(truncated, std::string(whole.begin(), whole.begin() + long(whole.size() * 2 / 3)));
    for (const std::string& model : {damaged, truncated}) {
        const ProcessResult ascii = runProcess(kestravCommand({model, dir + "/ascii.iv"}));
        const ProcessResult binary = runProcess(kestravCommand({"-B", model, dir + "/binary.iv"}));
        EXPECT_EQ(binary.exitStatus, ascii.exitStatus) << model;
        EXPECT_NE(ascii.err.find("is damaged"), std::string::npos) << model;
        EXPECT_EQ(binary.err, ascii.err) << model;
        EXPECT_EQ(asCoinReadsIt(readFile(dir + "/binary.iv")), asCoinReadsIt(readFile(dir + "/ascii.iv"))) << model;
    }
}

// Whatever the form, a failed write says the same and keeps the old file.
TEST(BinaryOutputE2e, FailedWriteGivesTheSameMessageAndKeepsTheOldFile) {
    const std::string dir = freshDirectory("binary-fsize");
    const std::string out = dir + "/scene.iv";
    const std::string previous = "#Inventor V2.1 ascii\n\n# the previous scene\n";
    ASSERT_GT(runProcess(kestravCommand({"-B", exampleModel()})).out.size(), 1024u);
    ProcessResult results[2];
    for (int binary = 0; binary < 2; ++binary) {
        writeFile(out, previous);
        LaunchOptions launch = kestravCommand(binary ? std::vector<std::string>{"-B", exampleModel(), out}
                                                     : std::vector<std::string>{exampleModel(), out});
        launch.fileSizeLimit = 1024;
        results[binary] = runProcess(launch);
        EXPECT_EQ(readFile(out), previous);
        int entries = 0;
        for (const auto& entry : fs::directory_iterator(dir)) entries += entry.is_regular_file() ? 1 : 0;
        EXPECT_EQ(entries, 1) << "the temporary file was left behind";
    }
    EXPECT_EQ(results[1].exitStatus, 1);
    EXPECT_EQ(results[1].exitStatus, results[0].exitStatus);
    EXPECT_EQ(results[1].err, "Cannot write the scene to \"" + out + "\": File too large\n");
    EXPECT_EQ(results[1].err, results[0].err);

    LaunchOptions full = kestravCommand({"-B", exampleModel()});
    full.stdoutPath = "/dev/full";
    const ProcessResult r = runProcess(full);
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "Cannot write the scene to standard output: No space left on device\n");
}

std::string withoutPositions(const std::string& messages) {
    std::istringstream lines(messages);
    std::string kept;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("\tOccurred at", 0) != 0) kept += line + "\n";
    return kept;
}

ProcessResult ivcat(const std::string& path) {
    LaunchOptions launch;
    launch.argv = {ivcatPath(), path};
    return runProcess(launch);
}

// SGI's own reader prints the binary scene exactly as it prints the ASCII
// one: same nodes, same fields, same values, also the engines and connections
// of -a and the cameras and lights of -l. Bump maps are left out, as ivcat
// does not know Coin's BumpMap nodes in either form.
TEST(BinaryOutputE2e, IvcatReadsTheBinaryCorpusScenesAsTheAsciiOnes) {
    if (ivcatPath().empty()) GTEST_SKIP() << "ivcat is not installed (Debian package inventor-clients)";
    const std::string dir = freshDirectory("binary-ivcat");
    const char* corpus = std::getenv("KESTRAV_CORPUS");
    int scenes = 0;
    for (const auto& entry : fs::directory_iterator(corpus ? corpus : KESTRAV_DEFAULT_CORPUS)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension != ".3ds") continue;
        for (const std::string option : {"-f", "-t", "-al"}) {
            const std::string label = entry.path().filename().string() + " " + option;
            const std::string ascii = dir + "/ascii.iv", binary = dir + "/binary.iv";
            ASSERT_EQ(runProcess(kestravCommand({option, entry.path().string(), ascii})).exitStatus, 0) << label;
            ASSERT_EQ(runProcess(kestravCommand({"-B" + option.substr(1), entry.path().string(), binary})).exitStatus,
                      0)
                << label;
            ASSERT_EQ(readFile(binary).compare(0, kBinaryHeader.size(), kBinaryHeader), 0) << label;
            const ProcessResult fromAscii = ivcat(ascii), fromBinary = ivcat(binary);
            EXPECT_EQ(fromBinary.exitStatus, 0) << label << "\n" << fromBinary.err;
            EXPECT_GT(fromAscii.out.size(), 500u) << label;
            EXPECT_TRUE(fromBinary.out == fromAscii.out) << label;
            // Complaints alike (a PNG it cannot decode), but for where they occurred.
            EXPECT_EQ(withoutPositions(fromBinary.err), withoutPositions(fromAscii.err)) << label;
            ++scenes;
        }
    }
    EXPECT_GE(scenes, 27);
}

}  // namespace
