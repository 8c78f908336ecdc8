// Converts the corpus and models made by the test writer with the real binary,
// then hands every scene to two readers: Coin, which kestrav writes with, and
// ivcat from Debian's inventor-clients, an independent Open Inventor 2.1
// implementation that knows none of Coin's extension nodes.

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/errors/SoReadError.h>
#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/KestravRun.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace fs = std::filesystem;

namespace {

// ---- Models --------------------------------------------------------------------

// The corpus images under the upper-case 8.3 names its models use. BERETTA_.JPG,
// which cubes_with_alpha.3DS names, is not in the corpus.
const std::pair<const char*, const char*> kCorpusImages[] = {
    {"test.png", "TEST.PNG"}, {"IMAGE1.jpg", "IMAGE1.JPG"}, {"IMAGE2.jpg", "IMAGE2.JPG"}, {"CWALL02.jpg", "CWALL02.JPG"}};
// Images for the written models, copied from the corpus.
const std::pair<const char*, const char*> kWrittenImages[] = {
    {"IMAGE1.jpg", "WOOD.JPG"}, {"CWALL02.jpg", "WALL.JPG"}, {"IMAGE2.jpg", "BUMP.JPG"}};

Chunk3ds floatColour(uint16_t target, float r, float g, float b) {
    return Chunk3ds(target).add(Chunk3ds(LIN_COLOR_F).floats({r, g, b}));
}

Chunk3ds map(uint16_t kind, const char* fileName, uint16_t tiling, float uScale, float vScale, float uOffset,
             float vOffset) {
    Chunk3ds chunk(kind);
    chunk.add(Chunk3ds(INT_PERCENTAGE).i16(100)).add(Chunk3ds(MAT_MAPNAME).name(fileName));
    chunk.add(Chunk3ds(MAT_MAP_TILING).u16(tiling));
    chunk.add(Chunk3ds(MAT_MAP_USCALE).f32(uScale)).add(Chunk3ds(MAT_MAP_VSCALE).f32(vScale));
    chunk.add(Chunk3ds(MAT_MAP_UOFFSET).f32(uOffset)).add(Chunk3ds(MAT_MAP_VOFFSET).f32(vOffset));
    return chunk.add(Chunk3ds(MAT_MAP_ANG).f32(30));
}

Chunk3ds litMaterial(const char* name, uint16_t shading) {
    return material(name, -1,
                    {colour(MAT_AMBIENT, 40, 30, 20), colour(MAT_DIFFUSE, 200, 150, 100),
                     colour(MAT_SPECULAR, 255, 255, 255), percentage(MAT_SHININESS, 35),
                     Chunk3ds(MAT_SHADING).u16(shading)});
}

// A box of eight corners and twelve faces, with texture coordinates and a frame.
Chunk3ds box(const char* name, float x, const Chunk3ds& faces, bool mirrored = false) {
    Chunk3ds points(POINT_ARRAY);
    points.u16(8);
    for (int i = 0; i < 8; ++i) points.floats({x + float(i & 1), float(i >> 1 & 1), float(i >> 2 & 1)});
    Chunk3ds uv(TEX_VERTS);
    uv.u16(8);
    for (int i = 0; i < 8; ++i) uv.floats({float(i & 1), float(i >> 1 & 1)});
    Chunk3ds frame(MESH_MATRIX);
    frame.floats({mirrored ? -1.0f : 1.0f, 0, 0, 0, 1, 0, 0, 0, 1, x, 0, 0});
    return Chunk3ds(NAMED_OBJECT).name(name).add(Chunk3ds(N_TRI_OBJECT).add(points).add(uv).add(frame).add(faces));
}

Chunk3ds boxFaces() {
    static const uint16_t corners[12][3] = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                            {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    Chunk3ds faces(FACE_ARRAY);
    faces.u16(12);
    for (const auto& face : corners) faces.u16(face[0]).u16(face[1]).u16(face[2]).u16(7);
    return faces;
}

Chunk3ds group(const char* materialName, std::initializer_list<uint16_t> faces) {
    Chunk3ds chunk(MSH_MAT_GROUP);
    chunk.name(materialName).u16(uint16_t(faces.size()));
    for (uint16_t face : faces) chunk.u16(face);
    return chunk;
}

Chunk3ds smoothing(std::initializer_list<uint32_t> masks) {
    Chunk3ds chunk(SMOOTH_GROUP);
    for (uint32_t mask : masks) chunk.u32(mask);
    return chunk;
}

Chunk3ds node(uint16_t id, const char* name, uint16_t parent, const char* instance, float x, float angle) {
    auto track = [](uint16_t chunkId, std::initializer_list<float> key) {
        return Chunk3ds(chunkId).u16(0).u32(0).u32(0).u32(1).u32(0).u16(0).floats(key);
    };
    Chunk3ds tag(OBJECT_NODE_TAG);
    tag.add(Chunk3ds(NODE_ID).u16(id)).add(Chunk3ds(NODE_HDR).name(name).u16(0).u16(0).u16(parent));
    if (instance) tag.add(Chunk3ds(INSTANCE_NAME).name(instance));
    tag.add(Chunk3ds(PIVOT).floats({0.5f, 0.5f, 0.5f}));
    tag.add(track(POS_TRACK_TAG, {x, 1, 0})).add(track(ROT_TRACK_TAG, {angle, 0, 0.6f, 0.8f}));
    return tag.add(track(SCL_TRACK_TAG, {1, 2, 1}));
}

// Two meshes, three textured or transparent materials, a group naming a
// material the file does not hold, and single, shared and empty smoothing masks.
Bytes groupsAndTextures() {
    Chunk3ds wood = litMaterial("Wood", 3);
    wood.add(map(MAT_TEXMAP, "WOOD.JPG", 0, 2, 2, 0.25f, 0.5f));
    Chunk3ds glass = litMaterial("Glass", 3);
    glass.add(floatColour(MAT_DIFFUSE, 0.2f, 0.6f, 0.9f)).add(percentage(MAT_TRANSPARENCY, 40));
    glass.add(percentage(MAT_SELF_ILPCT, 25)).add(Chunk3ds(MAT_TWO_SIDE));
    Chunk3ds wall = litMaterial("Wall", 1);
    wall.add(map(MAT_TEXMAP, "WALL.JPG", 0x11, 1, 1, 0, 0));

    Chunk3ds crate = boxFaces();
    crate.add(group("Wood", {0, 1, 2, 3, 4, 5})).add(group("Glass", {6, 7, 8, 9})).add(group("Missing", {10, 11}));
    crate.add(smoothing({1, 1, 2, 2, 1 | 2, 1 | 2, 0, 0, 4, 4, 0x80000000u, 0x80000000u}));
    Chunk3ds panel = boxFaces();
    panel.add(group("Wall", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    panel.add(smoothing({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    return model3ds({wood, glass, wall, box("Crate", 0, crate), box("Panel", 3, panel)});
}

// Keyframer nodes with parents, a dummy between them, a second instance of a
// mesh, and a mirrored frame.
Bytes parentsAndMirrors() {
    Chunk3ds steel = litMaterial("Steel", 3);
    auto steelBox = [&](const char* name, float x, bool mirrored) {
        Chunk3ds faces = boxFaces();
        faces.add(group("Steel", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
        faces.add(smoothing({1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 32, 32}));
        return box(name, x, faces, mirrored);
    };
    return model3ds({steel, steelBox("Base", 0, false), steelBox("Arm", 2, false), steelBox("Hand", 4, true)},
                    {node(0, "Base", 0xFFFF, nullptr, 0, 0.3f), node(1, "Arm", 0, "a", 1, 0.5f),
                     node(2, "$$$DUMMY", 1, "Grip", 1, 0), node(3, "Hand", 2, nullptr, 1, -0.7f),
                     node(4, "Arm", 0, "b", -1, 1.2f)});
}

// Meshes without material groups: one with smoothing, one without anything.
Bytes withoutMaterials() {
    Chunk3ds smooth = boxFaces();
    smooth.add(smoothing({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    Chunk3ds plain(FACE_ARRAY);
    plain.u16(1).u16(0).u16(1).u16(2).u16(0);
    Chunk3ds triangle(N_TRI_OBJECT);
    triangle.add(Chunk3ds(POINT_ARRAY).u16(3).floats({0, 0, 0, 1, 0, 0, 0, 1, 0})).add(plain);
    return model3ds({box("Smooth", 0, smooth), Chunk3ds(NAMED_OBJECT).name("Triangle").add(triangle)});
}

// Wire materials drawn as lines and as nothing, and a flat one.
Bytes wireMaterials() {
    Chunk3ds lines = litMaterial("Lines", 0);
    lines.add(Chunk3ds(MAT_WIRE)).add(Chunk3ds(MAT_WIRESIZE).f32(40));
    Chunk3ds hidden = litMaterial("Hidden", 0);
    hidden.add(Chunk3ds(MAT_WIRESIZE).f32(0));
    Chunk3ds flat = litMaterial("Flat", 1);
    flat.add(Chunk3ds(MAT_WIRE)).add(Chunk3ds(MAT_WIRESIZE).f32(3));
    Chunk3ds faces = boxFaces();
    faces.add(group("Lines", {0, 1, 2, 3})).add(group("Hidden", {4, 5, 6, 7})).add(group("Flat", {8, 9, 10, 11}));
    return model3ds({lines, hidden, flat, box("Cage", 0, faces)});
}

// A material with a texture and a bump map.
Bytes bumpMapped() {
    Chunk3ds bumpy = litMaterial("Bumpy", 3);
    bumpy.add(map(MAT_TEXMAP, "WOOD.JPG", 0, 1, 1, 0, 0)).add(map(MAT_BUMPMAP, "BUMP.JPG", 0, 3, 3, 0.5f, 0));
    Chunk3ds faces = boxFaces();
    faces.add(group("Bumpy", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}));
    return model3ds({bumpy, box("Relief", 0, faces)});
}

// ---- Readers -------------------------------------------------------------------

void collectReadError(const SoError* error, void* messages) {
    *static_cast<std::string*>(messages) += error->getDebugString().getString() + std::string("\n");
}

// Coin's read errors for the scene file; "no scene" when nothing came back.
std::string coinReadErrors(const std::string& path) {
    SoDB::init();
    std::string messages;
    SoReadError::setHandlerCallback(collectReadError, &messages);
    SoInput input;
    if (!input.openFile(path.c_str())) return "cannot open " + path;
    SoSeparator* scene = SoDB::readAll(&input);
    if (!scene) messages += "no scene\n";
    else scene->unref();
    SoReadError::setHandlerCallback(nullptr, nullptr);
    return messages;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

bool isPng(const std::string& path) { return readFile(path).compare(0, 4, "\x89PNG") == 0; }

// What ivcat printed, less its complaints about PNG images: its image reader
// knows SGI and JPEG images only, so it tries a PNG as a JPEG, says so, and
// goes on without the texture. That is a limit of its image decoding, not a
// fault of the scene text.
std::string alarmingIvcatOutput(const std::string& err) {
    const std::string notJpeg = "Not a JPEG file: starts with 0x89 0x50";
    const std::string noTexture = "Inventor read error: Could not read texture file ";
    const std::vector<std::string> lines = linesOf(err);
    std::string alarming;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == notJpeg) continue;
        if (lines[i].compare(0, noTexture.size(), noTexture) == 0 && isPng(lines[i].substr(noTexture.size()))) {
            if (i + 1 < lines.size() && lines[i + 1].compare(0, 15, "\tOccurred at li") == 0) ++i;
            continue;
        }
        alarming += lines[i] + "\n";
    }
    return alarming;
}

// The scene text without its BumpMap and BumpMapTransform nodes: each runs
// from its name to the closing brace at the same indentation.
std::string withoutBumpMapNodes(const std::string& text) {
    std::string kept;
    std::string closing;  // the line that ends the node being dropped
    for (const std::string& line : linesOf(text)) {
        if (!closing.empty()) {
            if (line == closing) closing.clear();
            continue;
        }
        const size_t indent = line.find_first_not_of(' ');
        if (indent != std::string::npos &&
            (line.compare(indent, std::string::npos, "BumpMap {") == 0 ||
             line.compare(indent, std::string::npos, "BumpMapTransform {") == 0)) {
            closing = std::string(indent, ' ') + "}";
            continue;
        }
        kept += line + "\n";
    }
    return kept;
}

// ---- Conversions ---------------------------------------------------------------

struct Scene {
    std::string label;  // model and options, for messages
    std::string path;
    bool bumpMaps;
};

const std::vector<std::vector<std::string>> kOptionSets = {{}, {"-f"}, {"-s", "-t"}, {"-b"}, {"-a"}};

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += " " + word;
    return text;
}

// Every test works in a directory of its own, since texture names are
// relative to the current directory, which the converter inherits.
class OtherReadersE2e : public testing::Test {
protected:
    void SetUp() override {
        previousDirectory = fs::current_path();
        directory = freshDirectory(testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::current_path(directory);
    }
    void TearDown() override { fs::current_path(previousDirectory); }

    template <size_t N>
    static void copyImages(const std::pair<const char*, const char*> (&images)[N]) {
        for (const auto& image : images) fs::copy_file(corpusModel(image.first), image.second);
    }

    // Converts the model in the current directory with every option set and
    // checks the run: status 0, and nothing on stderr but textures that are
    // really not there.
    void convert(const std::string& model, std::vector<Scene>& scenes) {
        for (const std::vector<std::string>& options : kOptionSets) {
            const std::string label = model + joined(options);
            std::string out = label + ".iv";
            for (char& c : out)
                if (c == ' ') c = '_';
            std::vector<std::string> arguments = options;
            arguments.push_back(model);
            arguments.push_back(out);
            const ProcessResult r = runProcess(kestravCommand(arguments));
            EXPECT_EQ(r.exitStatus, 0) << label << "\n" << r.err;
            for (const std::string& line : linesOf(r.err)) {
                const std::string prefix = "Cannot find texture file \"";
                const bool missing = line.compare(0, prefix.size(), prefix) == 0 && line.size() > prefix.size() + 2 &&
                                     !fileExists(line.substr(prefix.size(), line.size() - prefix.size() - 2));
                EXPECT_TRUE(missing) << label << ": " << line;
            }
            if (r.exitStatus == 0) scenes.push_back({label, out, options == std::vector<std::string>{"-b"}});
        }
    }

    std::vector<Scene> convertCorpus() {
        copyImages(kCorpusImages);
        std::vector<Scene> scenes;
        const char* corpus = std::getenv("KESTRAV_CORPUS");
        for (const auto& entry : fs::directory_iterator(corpus ? corpus : KESTRAV_DEFAULT_CORPUS)) {
            std::string extension = entry.path().extension().string();
            for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
            if (extension != ".3ds") continue;
            const std::string name = entry.path().filename().string();
            fs::copy_file(entry.path(), name);
            convert(name, scenes);
        }
        EXPECT_GE(scenes.size(), 9 * kOptionSets.size()) << "corpus models missing";
        return scenes;
    }

    std::vector<Scene> convertWrittenModels() {
        copyImages(kWrittenImages);
        const std::pair<const char*, Bytes> models[] = {{"groups.3ds", groupsAndTextures()},
                                                        {"parents.3ds", parentsAndMirrors()},
                                                        {"bare.3ds", withoutMaterials()},
                                                        {"wire.3ds", wireMaterials()},
                                                        {"bump.3ds", bumpMapped()}};
        std::vector<Scene> scenes;
        for (const auto& model : models) {
            writeFile(model.first, std::string(model.second.begin(), model.second.end()));
            convert(model.first, scenes);
        }
        EXPECT_EQ(scenes.size(), 5 * kOptionSets.size());
        return scenes;
    }

    static void expectCoinReadsEvery(const std::vector<Scene>& scenes) {
        for (const Scene& scene : scenes) EXPECT_EQ(coinReadErrors(scene.path), "") << scene.label;
    }

    static void expectIvcatReadsEveryOneWithoutBumpMaps(const std::vector<Scene>& scenes) {
        for (const Scene& scene : scenes) {
            if (scene.bumpMaps) continue;
            LaunchOptions launch;
            launch.argv = {ivcatPath(), scene.path};
            launch.stdoutPath = "/dev/null";
            const ProcessResult r = runProcess(launch);
            EXPECT_EQ(r.exitStatus, 0) << scene.label << "\n" << r.err;
            EXPECT_EQ(alarmingIvcatOutput(r.err), "") << scene.label;
        }
    }

    std::string directory;
    fs::path previousDirectory;
};

TEST_F(OtherReadersE2e, CoinReadsTheCorpusScenes) { expectCoinReadsEvery(convertCorpus()); }

TEST_F(OtherReadersE2e, CoinReadsTheWrittenModelsScenes) { expectCoinReadsEvery(convertWrittenModels()); }

TEST_F(OtherReadersE2e, IvcatReadsTheCorpusScenes) {
    if (ivcatPath().empty()) GTEST_SKIP() << "ivcat is not installed (Debian package inventor-clients)";
    expectIvcatReadsEveryOneWithoutBumpMaps(convertCorpus());
}

TEST_F(OtherReadersE2e, IvcatReadsTheWrittenModelsScenes) {
    if (ivcatPath().empty()) GTEST_SKIP() << "ivcat is not installed (Debian package inventor-clients)";
    expectIvcatReadsEveryOneWithoutBumpMaps(convertWrittenModels());
}

// The engines of -a are Open Inventor 2.1's own: ivcat reads a scene with a
// moving part and a hiding part and writes the counter, the SelectOnes and
// their connections back.
TEST_F(OtherReadersE2e, IvcatKeepsTheEnginesOfAnAnimatedScene) {
    if (ivcatPath().empty()) GTEST_SKIP() << "ivcat is not installed (Debian package inventor-clients)";
    const Bytes model = model3ds(
        {meshObject("Lid", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}), faceArray({{0, 1, 2}}),
                            meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0})})},
        {Chunk3ds(KFSEG).u32(0).u32(20),
         objectNode(0, "Lid", kNoParent,
                    {track(ROT_TRACK_TAG, {{0, 1, 0, 0}, {1.5f, 1, 0, 0}}),
                     trackHeader(HIDE_TRACK_TAG, 1).u32(10).u16(0)})});
    writeFile("lid.3ds", std::string(model.begin(), model.end()));
    const ProcessResult converted = runProcess(kestravCommand({"-a", "lid.3ds", "lid.iv"}));
    ASSERT_EQ(converted.exitStatus, 0) << converted.err;

    LaunchOptions launch;
    launch.argv = {ivcatPath(), "lid.iv"};
    launch.stdoutPath = "ivcat.iv";
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string text = readFile("ivcat.iv");
    for (const char* word : {"TimeCounter {", "\"MFMatrix\"", "\"MFInt32\"", "Switch {", "USE +0"})
        EXPECT_NE(text.find(word), std::string::npos) << word << "\n" << text;
}

// With -b the scene holds BumpMap and BumpMapTransform, Coin's own nodes, which
// the README says other readers do not know. This prints what ivcat says about
// them and does not fail on it; it fails when ivcat complains about anything
// else, or when the scene without those two nodes is not plain Inventor 2.1.
TEST_F(OtherReadersE2e, IvcatDoesNotKnowTheBumpMapNodes) {
    if (ivcatPath().empty()) GTEST_SKIP() << "ivcat is not installed (Debian package inventor-clients)";
    copyImages(kWrittenImages);
    const Bytes model = bumpMapped();
    writeFile("bump.3ds", std::string(model.begin(), model.end()));
    ASSERT_EQ(runProcess(kestravCommand({"-b", "bump.3ds", "bump.iv"})).exitStatus, 0);
    const std::string text = readFile("bump.iv");
    ASSERT_NE(text.find("BumpMap {"), std::string::npos);
    ASSERT_NE(text.find("BumpMapTransform {"), std::string::npos);
    ASSERT_EQ(coinReadErrors("bump.iv"), "");

    LaunchOptions launch;
    launch.argv = {ivcatPath(), "bump.iv"};
    launch.stdoutPath = "/dev/null";
    const ProcessResult r = runProcess(launch);
    std::cout << "ivcat on a scene written with -b: exit status " << r.exitStatus << "\n" << r.err;
    for (const std::string& line : linesOf(r.err)) {
        if (line.rfind("Inventor read error", 0) == 0) {
            EXPECT_NE(line.find("Unknown class \"BumpMap"), std::string::npos) << line;
        }
    }

    writeFile("stripped.iv", withoutBumpMapNodes(text));
    launch.argv = {ivcatPath(), "stripped.iv"};
    const ProcessResult stripped = runProcess(launch);
    EXPECT_EQ(stripped.exitStatus, 0) << stripped.err;
    EXPECT_EQ(alarmingIvcatOutput(stripped.err), "");
}

}  // namespace

namespace {

// Without its bump image, a -b scene has no bump node at all, so it is the
// scene without -b and ivcat reads it.
TEST_F(OtherReadersE2e, BumpMapWithoutItsImageLeavesNoCoinNodes) {
    if (ivcatPath().empty()) GTEST_SKIP() << "ivcat is not installed (Debian package inventor-clients)";
    fs::copy_file(corpusModel("IMAGE1.jpg"), "WOOD.JPG");
    const Bytes model = bumpMapped();
    writeFile("bump.3ds", std::string(model.begin(), model.end()));
    const ProcessResult bumped = runProcess(kestravCommand({"-b", "bump.3ds", "bump.iv"}));
    ASSERT_EQ(bumped.exitStatus, 0);
    EXPECT_EQ(bumped.err, "Cannot find texture file \"BUMP.JPG\".\n");
    ASSERT_EQ(runProcess(kestravCommand({"bump.3ds", "plain.iv"})).exitStatus, 0);
    EXPECT_EQ(readFile("bump.iv"), readFile("plain.iv"));

    LaunchOptions launch;
    launch.argv = {ivcatPath(), "bump.iv"};
    launch.stdoutPath = "/dev/null";
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(alarmingIvcatOutput(r.err), "");
}

}  // namespace
