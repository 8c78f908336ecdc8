#include "tests/support/SceneFixture.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/ProgramLines.h"
#include "kestrav/kestrav.h"

using namespace kestrav;

namespace {
struct ScratchDirectory {
    std::string path;
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrav-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};
int scratchCounter = 0;
}  // namespace

const std::string& scratchDirectory() {
    static ScratchDirectory directory;
    return directory.path;
}

std::string writeScratchFile(const std::string& name, const Bytes& bytes) {
    const std::string path = scratchDirectory() + "/" + name;
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

std::string readTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ConvertedScene::~ConvertedScene() {
    if (root) root->unref();
}

ConvertedScene::ConvertedScene(ConvertedScene&& other) noexcept
    : root(other.root), text(std::move(other.text)), messages(std::move(other.messages)) {
    other.root = nullptr;
}

SoSeparator* readSceneText(const std::string& text) {
    SoInput input;
    input.setBuffer(text.data(), text.size());
    SoSeparator* scene = SoDB::readAll(&input);
    if (scene) scene->ref();
    return scene;
}

ConvertedScene convertFile(const std::string& path, ConverterOptions options, float lineMin, float lineMax) {
    if (options.outputPath.empty()) options.outputPath = path + ".iv";
    options.binary = false;  // read back as text
    options.lineWidths = [lineMin, lineMax] { return LineWidthRange{lineMin, lineMax}; };
    const Conversion conversion = convertToFile(path, options.outputPath, options);
    ConvertedScene scene;
    scene.messages = programLines(conversion);
    scene.text = readTextFile(options.outputPath);
    scene.root = readSceneText(scene.text);
    return scene;
}

ConvertedScene convertBytes(const Bytes& file, ConverterOptions options, float lineMin, float lineMax) {
    const std::string path = writeScratchFile("model" + std::to_string(++scratchCounter) + ".3ds", file);
    return convertFile(path, options, lineMin, lineMax);
}

std::string joinedLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + '\n';
    return text;
}
