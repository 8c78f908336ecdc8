#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/KestravRun.h"
#include "tests/support/DamagedModels.h"

using namespace kestrav;

namespace {

// README's marker before a ```sh block, and the manual page's before an
// example, for what cannot run here: a display, root installs, other machines.
const char* const kReadmeNotRun = "<!-- not run -->";
const char* const kManualNotRun = ".\\\" not run";

struct Example {
    std::string where;  // file and line, for the failure message
    std::string script;
};

std::vector<std::string> linesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
}

// The line before index that is not blank (for README) or not a request (for
// the manual page), or "" at the top.
std::string markerBefore(const std::vector<std::string>& lines, size_t index, bool requestsToo) {
    while (index-- > 0) {
        const std::string& line = lines[index];
        if (line.empty()) continue;
        if (requestsToo && line[0] == '.' && line.rfind(".\\\"", 0) != 0) continue;
        return line;
    }
    return "";
}

// Every ```sh block of README.md not marked as not run.
std::vector<Example> readmeExamples() {
    const std::vector<std::string> lines = linesOf(KESTRAV_SOURCE_DIR "/README.md");
    std::vector<Example> examples;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != "```sh") continue;
        Example example{"README.md:" + std::to_string(i + 1), ""};
        const bool run = markerBefore(lines, i, false) != kReadmeNotRun;
        for (++i; i < lines.size() && lines[i] != "```"; ++i) example.script += lines[i] + '\n';
        if (run) examples.push_back(example);
    }
    return examples;
}

// The text a man page's example line shows.
std::string unescaped(const std::string& line) {
    static const std::pair<const char*, const char*> escapes[] = {
        {"\\-", "-"}, {"\\(aq", "'"}, {"\\(dq", "\""}, {"\\(ga", "`"}, {"\\(ti", "~"}, {"\\(ha", "^"}, {"\\&", ""},
        {"\\e", "\\"}};
    std::string text;
    for (size_t at = 0; at < line.size();) {
        bool replaced = false;
        for (const auto& [escape, shown] : escapes)
            if (line.compare(at, std::strlen(escape), escape) == 0) {
                text += shown;
                at += std::strlen(escape);
                replaced = true;
                break;
            }
        if (!replaced) text += line[at++];
    }
    return text;
}

// Every .nf/.fi or .EX/.EE block of the manual page's EXAMPLES section not
// marked as not run.
std::vector<Example> manualExamples() {
    const std::vector<std::string> lines = linesOf(KESTRAV_SOURCE_DIR "/docs/kestrav.1");
    std::vector<Example> examples;
    bool inExamples = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind(".SH", 0) == 0) inExamples = lines[i] == ".SH EXAMPLES";
        if (!inExamples || (lines[i] != ".nf" && lines[i] != ".EX")) continue;
        Example example{"docs/kestrav.1:" + std::to_string(i + 1), ""};
        const bool run = markerBefore(lines, i, true) != kManualNotRun;
        for (++i; i < lines.size() && lines[i] != ".fi" && lines[i] != ".EE"; ++i)
            example.script += unescaped(lines[i]) + '\n';
        if (run) examples.push_back(example);
    }
    return examples;
}

// The folder an example runs in: the bundled example (examples/cube.3ds), a
// model under each name the documents use (model.3ds, car.3ds), and the
// corpus with its images and a damaged model in models/.
std::string exampleFolder(const std::string& name) {
    const std::string folder = freshDirectory(name);
    std::filesystem::create_directories(folder + "/examples");
    std::filesystem::copy_file(exampleModel(), folder + "/examples/cube.3ds");
    std::filesystem::copy_file(corpusModel("test1.3ds"), folder + "/model.3ds");
    std::filesystem::copy_file(corpusModel("fels.3ds"), folder + "/car.3ds");
    std::filesystem::copy(corpusModel("."), folder + "/models");
    const Bytes damaged = sevenPointFlagsModel();
    writeFile(folder + "/models/damaged.3ds", std::string(damaged.begin(), damaged.end()));
    return folder;
}

// Each example as a shell script that stops at its first failing command,
// with the built kestrav first on PATH.
void runEach(const std::vector<Example>& examples, const std::string& name) {
    const std::string binary = KESTRAV_BINARY;
    const std::string path = binary.substr(0, binary.rfind('/')) + ":" + std::getenv("PATH");
    for (size_t i = 0; i < examples.size(); ++i) {
        const std::string folder = exampleFolder(name + std::to_string(i));
        LaunchOptions shell;
        shell.argv = {"/bin/sh", "-e", "-c", examples[i].script};
        shell.workingDirectory = folder;
        shell.setVariables = {{"PATH", path}, {"HOME", folder}};
        shell.unsetVariables = {"DISPLAY", "WAYLAND_DISPLAY", "KESTRAV_TEXTURE_PATH"};
        const ProcessResult r = runProcess(shell);
        EXPECT_EQ(r.exitStatus, 0) << examples[i].where << "\n" << examples[i].script << r.err;
    }
}

TEST(DocumentationE2e, EveryReadmeShellExampleRunsAsWritten) {
    const std::vector<Example> examples = readmeExamples();
    ASSERT_GE(examples.size(), 3u) << "the README's examples were not found";
    runEach(examples, "readme-example-");
}

TEST(DocumentationE2e, EveryManualPageExampleRunsAsWritten) {
    const std::vector<Example> examples = manualExamples();
    ASSERT_GE(examples.size(), 3u) << "the manual page's examples were not found";
    runEach(examples, "manual-example-");
}

}  // namespace
