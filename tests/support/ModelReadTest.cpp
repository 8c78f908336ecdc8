#include "tests/support/ModelReadTest.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>


using namespace kestrav;

void ModelReadTest::TearDown() { database.releaseDatabase(); }

int ModelReadTest::readBytes(const Bytes& file) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[file.size()]);
    if (!file.empty()) std::memcpy(copy.get(), file.data(), file.size());
    const int result = database.readDatabase(copy.get(), file.size());
    takeLists();
    return result;
}

int ModelReadTest::readFile(const std::string& path) {
    const int result = database.readDatabase(path.c_str());
    takeLists();
    return result;
}

void ModelReadTest::read(const Bytes& file) {
    ASSERT_EQ(readBytes(file), 1);
    ASSERT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
}

void ModelReadTest::takeLists() {
    meshes = &database.meshList();
    materials = &database.materialList();
    keyframes = &database.keyframeList();
}

std::string corpusFolder() {
    const char* folder = std::getenv("KESTRAV_CORPUS");
    return folder ? folder : "";
}

std::string corpusPath(const std::string& file) { return corpusFolder() + "/" + file; }

testing::AssertionResult corpusIsThere() {
    const std::string folder = corpusFolder();
    if (folder.empty()) return testing::AssertionFailure() << "KESTRAV_CORPUS is not set; it names the folder of the real models";
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
        return testing::AssertionFailure() << "the real models are missing: no folder \"" << folder << "\"";
    return testing::AssertionSuccess();
}
