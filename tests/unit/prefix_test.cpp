// Every prefix of a model, as a cut-short download or a full disk leaves it,
// converts through the whole converter: the walk keeps what came before the cut
// and every builder copes with the half-read records, and the scene written for
// it is one Coin reads back. Run under the sanitizers to see overreads and
// leaks. The corpus models larger than kLargestModel bytes are left to
// tools/sweep/prefixes.sh, which raises the bound with KESTRAV_PREFIX_LARGEST.

#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "reader/ModelDatabase.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

// About 3 ms a prefix under the sanitizers: the four smallest corpus models.
constexpr size_t kLargestModel = 1500;

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct PrefixRun {
    int converted = 0;
    double slowestSeconds = 0;
    size_t slowestSize = 0;
};

// Input and output live in memory when they can: the writer syncs every file it
// replaces, which on a disk costs more than the whole conversion.
struct PrefixFiles {
    std::string input, output;
    PrefixFiles() {
        std::string folder = scratchDirectory();
        if (std::filesystem::is_directory("/dev/shm")) folder = "/dev/shm/kestrav-prefix-" + std::to_string(getpid());
        std::filesystem::create_directories(folder);
        input = folder + "/prefix.3ds";
        output = folder + "/prefix.iv";
    }
    ~PrefixFiles() {
        std::error_code ignored;
        if (input.rfind("/dev/shm/", 0) == 0)
            std::filesystem::remove_all(std::filesystem::path(input).parent_path(), ignored);
    }
};

// Converts the first `size` bytes as the program does without a display, and
// checks that the scene was written and reads back.
void convertPrefix(const PrefixFiles& files, const Bytes& model, size_t size, PrefixRun& run) {
    {
        std::ofstream out(files.input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(model.data()), std::streamsize(size));
    }
    const auto start = std::chrono::steady_clock::now();
    {
        SceneConverter converter(Options(), files.output);
        // Fewer than the two bytes of the first chunk id are no model at all.
        if (size < 2) {
            EXPECT_EQ(converter.read(files.input), Outcome::Unreadable);
            ++run.converted;
            return;
        }
        EXPECT_NE(converter.read(files.input), Outcome::Unreadable);
        std::string failure;
        EXPECT_TRUE(writeScene(converter.build(), files.output, failure)) << failure;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds > run.slowestSeconds) {
        run.slowestSeconds = seconds;
        run.slowestSize = size;
    }
    SoSeparator* scene = readSceneText(readTextFile(files.output));
    EXPECT_NE(scene, nullptr);
    if (scene) scene->unref();
    ++run.converted;
}

// Every cut from the empty file to the whole one. Every cut that holds the
// first chunk id is readable, so each of them gives a scene.
void convertEveryPrefix(const std::string& label, const Bytes& model) {
    SCOPED_TRACE(label);
    PrefixRun run;
    const PrefixFiles files;
    for (size_t size = 0; size <= model.size(); ++size) {
        SCOPED_TRACE(size);
        convertPrefix(files, model, size, run);
        if (testing::Test::HasFailure()) return;
    }
    EXPECT_EQ(run.converted, int(model.size()) + 1);
    // A hang shows as a prefix far slower than the whole model's usual time.
    EXPECT_LT(run.slowestSeconds, 5.0) << "prefix of " << run.slowestSize << " bytes";
}

std::vector<std::filesystem::path> smallCorpusModels() {
    std::vector<std::filesystem::path> models;
    if (!corpusIsThere()) return models;
    const char* largest = std::getenv("KESTRAV_PREFIX_LARGEST");
    const size_t bound = largest ? std::strtoul(largest, nullptr, 10) : kLargestModel;
    for (const auto& entry : std::filesystem::directory_iterator(corpusFolder())) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".3ds" && entry.file_size() <= bound) models.push_back(entry.path());
    }
    return models;
}

// A box in two materials (one textured, one wire), smoothing groups, a
// mirroring mesh matrix, and a keyframer with a parent chain and an instance.
Bytes writtenModel() {
    const std::vector<float> box = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1, 1};
    const std::vector<Face> faces = {{0, 1, 2}, {0, 2, 3}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4}};
    Chunk3ds texture(MAT_TEXMAP);
    texture.add(Chunk3ds(INT_PERCENTAGE).i16(80)).add(Chunk3ds(MAT_MAPNAME).name("BOX.PNG"));
    texture.add(Chunk3ds(MAT_MAP_USCALE).f32(2)).add(Chunk3ds(MAT_MAP_ANG).f32(30));
    Chunk3ds diffuse(MAT_DIFFUSE);
    diffuse.add(Chunk3ds(COLOR_24).u8(200).u8(40).u8(0));
    Chunk3ds transparency(MAT_TRANSPARENCY);
    transparency.add(Chunk3ds(INT_PERCENTAGE).i16(30));
    return model3ds(
        {material("Wood", 3, {diffuse, transparency, texture, Chunk3ds(MAT_TWO_SIDE)}),
         material("Wire", 0, {Chunk3ds(MAT_WIRE), Chunk3ds(MAT_WIRESIZE).f32(3)}),
         meshObject("Box", {pointArray(box), Chunk3ds(TEX_VERTS).u16(8).floats({0, 0, 1, 0, 1, 1, 0, 1,
                                                                                0, 0, 1, 0, 1, 1, 0, 1}),
                            Chunk3ds(MESH_MATRIX).floats({-1, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 0}),
                            faceArray(faces, {materialGroup("Wood", {0, 1, 2, 3}), materialGroup("Wire", {4, 5}),
                                              smoothGroup({1, 1, 2, 2, 3, 5})})}),
         meshObject("Plate", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}), faceArray({{0, 1, 2}})})},
        {objectNode(0, "Box", kNoParent,
                    {Chunk3ds(PIVOT).floats({1, 1, 1}), track(POS_TRACK_TAG, {{1, 2, 3}, {4, 5, 6}}),
                     track(ROT_TRACK_TAG, {{0.5f, 0, 0, 1}}), track(SCL_TRACK_TAG, {{1, 2, 1}})}),
         objectNode(1, "Plate", 0, {track(POS_TRACK_TAG, {{0, 0, 5}})}),
         objectNode(2, "Box", 1, {Chunk3ds(INSTANCE_NAME).name("Copy"), track(SCL_TRACK_TAG, {{-1, 1, 1}})})});
}

TEST(Prefix, EveryPrefixOfTheSmallCorpusModelsConverts) {
    const std::vector<std::filesystem::path> models = smallCorpusModels();
    if (models.empty()) GTEST_SKIP() << "KESTRAV_CORPUS names no folder with 3DS models";
    for (const std::filesystem::path& model : models) convertEveryPrefix(model.filename().string(), readBytes(model));
}

TEST(Prefix, EveryPrefixOfAWrittenModelConverts) {
    const Bytes model = writtenModel();
    // The whole model is read to its end: the cuts below are the only damage.
    ModelDatabase database;
    const std::string path = writeScratchFile("written.3ds", model);
    ASSERT_EQ(database.readDatabase(path.c_str()), 1);
    EXPECT_EQ(database.lastWalkEnd(), WalkEnd::Complete);
    database.releaseDatabase();
    convertEveryPrefix("written model", model);
}

}  // namespace
