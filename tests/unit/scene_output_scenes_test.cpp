// Whole scenes written through SceneOutput must be the very file that Coin's own
// SoOutput writes, and a write that fails part way must still be reported and
// leave no temporary file.

#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "tests/support/CoinSceneWriter.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/HeightField.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

ConverterOptions optionSet(int index) {
    ConverterOptions options;
    options.flatShading = index == 1;
    options.twoSided = index == 2;
    options.bumpMaps = index == 3;
    options.noTextures = index == 4;
    return options;
}
const int kOptionSets = 5;
const char* const kOptionNames[kOptionSets] = {"no options", "-f", "-s", "-b", "-t"};

// Texture names are relative to the current directory, so every test works in
// a directory of its own that holds the images its models name.
class WholeSceneTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory = fs::current_path();
        const fs::path directory = fs::path(scratchDirectory()) / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(directory);
        fs::current_path(directory);
        ASSERT_TRUE(corpusIsThere());
        corpusDirectory = corpusFolder();
        for (const char* name : {"TEST.PNG", "IMAGE1.JPG", "IMAGE2.JPG", "CWALL02.JPG", "WOOD.PNG", "BUMP.PNG"})
            fs::copy_file(corpusDirectory / "test.png", name, fs::copy_options::overwrite_existing);
    }
    void TearDown() override { fs::current_path(previousDirectory); }

    // Builds the scene of a model without writing it.
    SoSeparator* build(std::unique_ptr<SceneConverter>& converter, const std::string& model,
                       ConverterOptions options) {
        options.lineWidths = [] { return LineWidthRange{1.0f, 10.0f}; };
        converter.reset(new SceneConverter(options));
        converter->read(model);
        return converter->build();
    }

    // Writes the model's scene both ways and compares the files.
    void expectSameFiles(const std::string& model, ConverterOptions options, const char* optionName) {
        SCOPED_TRACE(model + " with " + optionName);
        std::unique_ptr<SceneConverter> converter;
        SoSeparator* root = build(converter, model, options);
        std::string failure;
        EXPECT_TRUE(writeSceneWithCoinOutput(root, "coin.iv", failure)) << failure;
        EXPECT_TRUE(writeScene(root, "ours.iv", failure)) << failure;
        const std::string coin = readTextFile("coin.iv");
        const std::string ours = readTextFile("ours.iv");
        EXPECT_GT(coin.size(), 200u);
        if (coin == ours) return;
        size_t position = 0;
        while (position < coin.size() && position < ours.size() && coin[position] == ours[position]) ++position;
        const size_t start = position < 40 ? 0 : position - 40;
        ADD_FAILURE() << "the files differ at byte " << position << " of " << coin.size() << ": Coin wrote \""
                      << coin.substr(start, 80) << "\", SceneOutput \"" << ours.substr(start, 80) << "\"";
    }

    void expectSameFilesWithEveryOptionSet(const std::string& model) {
        for (int i = 0; i < kOptionSets; ++i) expectSameFiles(model, optionSet(i), kOptionNames[i]);
    }

    fs::path previousDirectory;
    fs::path corpusDirectory;
};

Chunk3ds floatColour(uint16_t id, float r, float g, float b) { return Chunk3ds(id).add(Chunk3ds(COLOR_F).floats({r, g, b})); }

Chunk3ds map(uint16_t id, const char* image, float uScale, float vScale, float uOffset, float vOffset, float angle) {
    return Chunk3ds(id)
        .add(Chunk3ds(INT_PERCENTAGE).i16(90))
        .add(Chunk3ds(MAT_MAPNAME).name(image))
        .add(Chunk3ds(MAT_MAP_TILING).u16(0x10))
        .add(Chunk3ds(MAT_MAP_USCALE).f32(uScale))
        .add(Chunk3ds(MAT_MAP_VSCALE).f32(vScale))
        .add(Chunk3ds(MAT_MAP_UOFFSET).f32(uOffset))
        .add(Chunk3ds(MAT_MAP_VOFFSET).f32(vOffset))
        .add(Chunk3ds(MAT_MAP_ANG).f32(angle));
}

// A height field of columns x rows vertices with texture coordinates, random
// multi-bit smoothing masks and faces split between two materials; heights
// span tiny to huge values so every float form appears in points and normals.
Chunk3ds heightField(const std::string& name, int columns, int rows, uint32_t seed, std::initializer_list<float> matrix) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<float> points, uv;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            const float scale = std::ldexp(1.0f, int(random() % 60) - 30);
            points.insert(points.end(), {float(x) * 12.5f, float(y) * 0.0123f, unit(random) * scale});
            uv.insert(uv.end(), {float(x) / float(columns - 1), unit(random) * 3.0f});
        }
    std::vector<Face> faces;
    std::vector<uint32_t> masks;
    std::vector<uint16_t> red, glass;
    for (int y = 0; y + 1 < rows; ++y)
        for (int x = 0; x + 1 < columns; ++x) {
            const uint16_t corner = uint16_t(y * columns + x);
            faces.push_back({corner, uint16_t(corner + 1), uint16_t(corner + columns + 1)});
            faces.push_back({corner, uint16_t(corner + columns + 1), uint16_t(corner + columns)});
            for (int i = 0; i < 2; ++i) {
                const uint32_t choice = random() % 4;
                masks.push_back(choice == 0 ? 0u : choice == 1 ? 1u : choice == 2 ? 0x80000003u : 1u << (random() % 32));
                (random() % 3 == 0 ? glass : red).push_back(uint16_t(faces.size() - 2 + size_t(i)));
            }
        }
    Chunk3ds texVerts(TEX_VERTS);
    texVerts.u16(uint16_t(uv.size() / 2));
    for (float v : uv) texVerts.f32(v);
    return meshObject(name, {pointArray(points), texVerts,
                             faceArray(faces, {materialGroup("Red", red), materialGroup("Glass", glass), smoothGroup(masks)}),
                             Chunk3ds(MESH_MATRIX).floats(matrix)});
}

// Materials of every kind the builders write, meshes with and without
// materials, mirrored and rotated frames, and keyframer nodes with parents,
// pivots, tracks and a second instance.
Bytes richModel() {
    const Chunk3ds materials[] = {
        material("Red", 3,
                 {colour(MAT_AMBIENT, 51, 0, 0), colour(MAT_DIFFUSE, 200, 17, 3), colour(MAT_SPECULAR, 229, 229, 229),
                  percentage(MAT_SHININESS, 37), percentage(MAT_SHIN2PCT, 61), percentage(MAT_TRANSPARENCY, 13),
                  map(MAT_TEXMAP, "WOOD.PNG", 2.0f, 0.333f, 0.1f, -0.25f, 33.3f),
                  map(MAT_BUMPMAP, "BUMP.PNG", 1.0f, 1.0f, 0.0f, 0.0f, 0.0f)}),
        material("Glass", 2,
                 {floatColour(MAT_DIFFUSE, 0.1f, 0.7f, 0.9f), percentage(MAT_TRANSPARENCY, 71), Chunk3ds(MAT_TWO_SIDE),
                  percentage(MAT_SELF_ILPCT, 20)}),
        material("Wire", 1,
                 {floatColour(MAT_DIFFUSE, 1e-7f, 0.5f, 1.0f), Chunk3ds(MAT_WIRE), Chunk3ds(MAT_WIRESIZE).f32(2.75f)}),
    };
    const Chunk3ds terrain = heightField("Terrain", 40, 30, 7, {0.8f, 0.6f, 0, -0.6f, 0.8f, 0, 0, 0, 1, 1e4f, -3.5f, 0.001f});
    const Chunk3ds mirror =
        meshObject("Mirror", {pointArray({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 1e-3f}),
                              faceArray({{0, 1, 2}, {0, 2, 3}}, {materialGroup("Wire", {0, 1}), smoothGroup({1, 1})}),
                              Chunk3ds(MESH_MATRIX).floats({-1, 0, 0, 0, 1, 0, 0, 0, 1, 5, 6, 7})});
    const Chunk3ds plain = meshObject("Plain", {pointArray({0, 0, 0, 3, 0, 0, 0, 3, 0}), faceArray({{0, 1, 2}})});
    const Chunk3ds nodes[] = {
        objectNode(0, "Terrain", kNoParent,
                   {Chunk3ds(PIVOT).floats({1.5f, -2.25f, 0.1f}), track(POS_TRACK_TAG, {{10, 20, 30.5f}}),
                    track(ROT_TRACK_TAG, {{0.7f, 0.267f, 0.535f, 0.802f}}), track(SCL_TRACK_TAG, {{1, 2, 0.5f}})}),
        objectNode(1, "Mirror", 0, {track(POS_TRACK_TAG, {{-1, 0, 1}}), track(ROT_TRACK_TAG, {{3.14159f, 0, 0, 1}})}),
        objectNode(2, "Terrain", 1, {Chunk3ds(INSTANCE_NAME).name("Again"), track(SCL_TRACK_TAG, {{-1, 1, 1}})}),
    };
    return model3ds({materials[0], materials[1], materials[2], terrain, mirror, plain}, {nodes[0], nodes[1], nodes[2]});
}

TEST_F(WholeSceneTest, EveryCorpusModelWithEveryOptionSet) {
    int models = 0;
    for (const auto& entry : fs::directory_iterator(corpusDirectory)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension != ".3ds") continue;
        const std::string copy = entry.path().filename().string();
        fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
        expectSameFilesWithEveryOptionSet((fs::current_path() / copy).string());
        ++models;
    }
    EXPECT_GE(models, 9);
}

TEST_F(WholeSceneTest, WrittenModelsWithMaterialsTexturesAndTransforms) {
    const std::string model = writeScratchFile("rich.3ds", richModel());
    expectSameFilesWithEveryOptionSet(model);
    // The texture nodes are there when the images are.
    std::unique_ptr<SceneConverter> converter;
    SoSeparator* root = build(converter, model, optionSet(3));
    std::string failure;
    EXPECT_TRUE(writeScene(root, "check.iv", failure)) << failure;
    const std::string text = readTextFile("check.iv");
    for (const char* node : {"Texture2 {", "BumpMap {", "TextureCoordinate2 {", "DrawStyle {", "ShapeHints {", "Normal {"})
        EXPECT_NE(text.find(node), std::string::npos) << node;
}

// Engines, their shared counter and the connected fields, as -a writes them.
TEST_F(WholeSceneTest, AnimatedScenesWithEngines) {
    const Chunk3ds hide = trackHeader(HIDE_TRACK_TAG, 2).u32(3).u16(0).u32(7).u16(0);
    const Bytes moving = model3ds(
        {meshObject("Arm", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0.5f}), faceArray({{0, 1, 2}}),
                            meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, 0.5f, 0, 0})})},
        {Chunk3ds(KFSEG).u32(0).u32(9),
         objectNode(0, "Arm", kNoParent,
                    {splineTrack(POS_TRACK_TAG, {{0, {0, 0, 0}, 0x01, {0.5f}}, {9, {1e-7f, 2.5f, -3e6f}}}),
                     track(SCL_TRACK_TAG, {{1, 1, 1}, {-1, 0.25f, 3}}), hide}),
         objectNode(1, "Arm", 0, {Chunk3ds(INSTANCE_NAME).name("Twin"), track(ROT_TRACK_TAG, {{0, 0, 0, 1}, {2, 1, 0, 0}})})});
    const std::string written = writeScratchFile("moving.3ds", moving);
    for (const std::string& model : {written, corpusPath("RotatingCube.3DS"), corpusPath("CameraRollAnimWithChildObject.3ds")}) {
        ConverterOptions options;
        options.animation = true;
        expectSameFiles(model, options, "-a");
        options.flatShading = true;
        expectSameFiles(model, options, "-af");
    }
    std::unique_ptr<SceneConverter> converter;
    ConverterOptions options;
    options.animation = true;
    std::string failure;
    EXPECT_TRUE(writeScene(build(converter, written, options), "check.iv", failure)) << failure;
    const std::string text = readTextFile("check.iv");
    for (const char* node : {"TimeCounter {", "USE +0", "MFMatrix", "MFInt32", "Switch {"})
        EXPECT_NE(text.find(node), std::string::npos) << node;
}

TEST_F(WholeSceneTest, MeshAtTheSixteenBitLimits) {
    expectSameFiles(writeScratchFile("limit.3ds", limitMeshModel("TEST.PNG")), ConverterOptions(), "no options");
}

// Runs write with standard output sent to the file at path.
template <class Write>
bool withStandardOutputTo(const std::string& path, Write write) {
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int target = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(target, STDOUT_FILENO);
    close(target);
    const bool written = write();
    dup2(saved, STDOUT_FILENO);
    close(saved);
    return written;
}

TEST_F(WholeSceneTest, StandardOutputGetsTheSameText) {
    std::unique_ptr<SceneConverter> converter;
    SoSeparator* root = build(converter, writeScratchFile("rich.3ds", richModel()), ConverterOptions());
    std::string failure;
    EXPECT_TRUE(withStandardOutputTo("coin.iv", [&] { return writeSceneWithCoinOutput(root, "", failure); }));
    EXPECT_TRUE(withStandardOutputTo("ours.iv", [&] { return writeScene(root, "", failure); }));
    EXPECT_GT(readTextFile("ours.iv").size(), 1000u);
    EXPECT_TRUE(readTextFile("ours.iv") == readTextFile("coin.iv"));
}

// The limit mesh's text is several of SceneOutput's blocks: the first block
// already fails, the traversal still runs to its end, and the failure comes
// back with its errno.
TEST_F(WholeSceneTest, WriteFailingPartWayIsReportedAndLeavesTheOldFile) {
    std::unique_ptr<SceneConverter> converter;
    SoSeparator* root = build(converter, writeScratchFile("limit.3ds", limitMeshModel()), ConverterOptions());
    const std::string previous = "#Inventor V2.1 ascii\n\n# the previous scene\n";
    fs::create_directory("out");
    {
        std::FILE* file = std::fopen("out/scene.iv", "w");
        std::fputs(previous.c_str(), file);
        std::fclose(file);
    }

    std::string failure;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit oldLimit;
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit limit = oldLimit;
    limit.rlim_cur = 100000;
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool written = writeScene(root, "out/scene.iv", failure);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(written);
    EXPECT_EQ(failure, "Cannot write the scene to \"out/scene.iv\": File too large");
    EXPECT_EQ(readTextFile("out/scene.iv"), previous);
    int entries = 0;
    for (const auto& entry : fs::directory_iterator("out")) entries += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1) << "the temporary file was left behind";

    EXPECT_TRUE(withStandardOutputTo("/dev/full", [&] { return !writeScene(root, "", failure); }));
    EXPECT_EQ(failure, "Cannot write the scene to standard output: No space left on device");
    EXPECT_FALSE(writeScene(root, "/dev/full", failure));
    EXPECT_EQ(failure, "Cannot write the scene to \"/dev/full\": No space left on device");
}

}  // namespace
