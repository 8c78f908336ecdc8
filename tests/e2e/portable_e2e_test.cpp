// -p with the real binary: a model naming an image of every kind, a batch
// whose models name different and identical images under one name, damaged
// images, and the line for a BMP without -p. The scenes are read back by Coin
// and by SGI Inventor's ivcat, which prints each texture's pixels with -t.

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/SoPath.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTexture2.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "appearance/ImageExport.h"
#include "tests/e2e/KestravRun.h"
#include "tests/support/TestImages.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace fs = std::filesystem;

namespace {

// One textured quad a image, each in a material of its own; with heavy a
// grid of 64,082 faces first, so that the model takes a while to convert.
Bytes texturedModel(const std::vector<std::string>& images, bool heavy = false) {
    Chunk3ds data(MDATA);
    if (heavy) {
        const uint16_t side = 180;
        std::vector<float> points;
        std::vector<Face> faces;
        for (uint16_t y = 0; y < side; ++y)
            for (uint16_t x = 0; x < side; ++x) {
                points.insert(points.end(), {float(x), float(y), float((x * y) % 7)});
                if (x + 1 == side || y + 1 == side) continue;
                const uint16_t at = uint16_t(y * side + x);
                faces.push_back({at, uint16_t(at + 1), uint16_t(at + side)});
                faces.push_back({uint16_t(at + 1), uint16_t(at + side + 1), uint16_t(at + side)});
            }
        data.add(meshObject("Grid", {pointArray(points), faceArray(faces)}));
    }
    for (size_t i = 0; i < images.size(); ++i) {
        const std::string name = "M" + std::to_string(i);
        const float x = float(i);
        data.add(material(name, -1, {mapChunk(MAT_TEXMAP, images[i])}));
        data.add(meshObject(name, {pointArray({x, 0, 0, x + 1, 0, 0, x + 1, 1, 0, x, 1, 0}),
                                   texVerts({0, 0, 1, 0, 1, 1, 0, 1}),
                                   faceArray({{0, 1, 2}, {0, 2, 3}}, {materialGroup(name, {0, 1})})}));
    }
    return Chunk3ds(M3DMAGIC).add(data).bytes();
}

void writeModel(const std::string& path, const Bytes& model) { writeFile(path, std::string(model.begin(), model.end())); }

std::set<std::string> filesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

struct Texture {
    std::string filename;
    SbVec2s size{0, 0};
    int channels = 0;
    std::vector<uint8_t> bytes;  // the bottom row first
};

// The scene's textures as Coin reads them, from a current directory that is
// not the scene's.
std::vector<Texture> coinTextures(const std::string& scene) {
    SoDB::init();
    std::vector<Texture> textures;
    SoInput input;
    if (!input.openFile(scene.c_str())) return textures;
    SoSeparator* root = SoDB::readAll(&input);
    if (!root) return textures;
    root->ref();
    SoSearchAction search;
    search.setType(SoTexture2::getClassTypeId());
    search.setInterest(SoSearchAction::ALL);
    search.apply(root);
    for (int i = 0; i < search.getPaths().getLength(); ++i) {
        SoTexture2* node = static_cast<SoTexture2*>(search.getPaths()[i]->getTail());
        Texture texture;
        texture.filename = node->filename.getValue().getString();
        const unsigned char* bytes = node->image.getValue(texture.size, texture.channels);
        texture.bytes.assign(bytes, bytes + size_t(texture.size[0]) * size_t(texture.size[1]) * size_t(texture.channels));
        textures.push_back(texture);
    }
    root->unref();
    return textures;
}

// Each "image" field of ivcat -t's text: width, height, channels, then one
// number a pixel holding its channels, the bottom row first.
std::vector<Texture> ivcatTextures(const std::string& text) {
    std::vector<Texture> textures;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (word != "image") continue;
        Texture texture;
        int width = 0, height = 0;
        words >> width >> height >> texture.channels;
        texture.size.setValue(short(width), short(height));
        for (long i = 0; i < long(width) * height && words >> word; ++i) {
            const unsigned long value = std::stoul(word, nullptr, 0);
            for (int c = texture.channels - 1; c >= 0; --c) texture.bytes.push_back(uint8_t(value >> (8 * c)));
        }
        textures.push_back(texture);
    }
    return textures;
}

std::vector<uint8_t> bottomRowFirst(const PixelImage& pixels) {
    std::vector<uint8_t> bytes;
    const size_t row = size_t(pixels.width) * size_t(pixels.channels);
    for (uint32_t y = pixels.height; y-- > 0;)
        bytes.insert(bytes.end(), pixels.pixels.begin() + long(y * row), pixels.pixels.begin() + long((y + 1) * row));
    return bytes;
}

TEST(PortableE2e, EveryImageGoesBesideTheSceneAndLoadsInCoinAndSgiInventor) {
    const std::string models = freshDirectory("portable-models");
    const std::string out = freshDirectory("portable-out");
    const PixelImage colour = testPattern(7, 5, 3), grey = testPattern(6, 4, 1), alpha = testPattern(5, 3, 4);
    const std::string jpeg = readFile(corpusModel("IMAGE1.jpg"));
    const std::map<std::string, std::pair<std::string, const PixelImage*>> images = {
        {"WOOD.JPG", {jpeg, nullptr}},
        {"ALPHA.PNG", {magickFile(alpha, "PNG"), &alpha}},
        {"B8UP.BMP", {bmpFile(colour, 8, false), &colour}},
        {"B8DOWN.BMP", {bmpFile(grey, 8, true), &grey}},
        {"B24UP.BMP", {bmpFile(colour, 24, false), &colour}},
        {"B24DOWN.BMP", {bmpFile(colour, 24, true), &colour}},
        {"ALPHA.TGA", {targaFile(alpha), &alpha}},
        {"STRIPES.GIF", {magickFile(colour, "GIF"), &colour}},
    };
    std::vector<std::string> names;
    std::map<std::string, const PixelImage*> expected;  // by the name in the scene
    for (const auto& [name, image] : images) {
        writeFile(models + "/" + name, image.first);
        names.push_back(name);
        expected[image.second ? name.substr(0, name.rfind('.')) + ".rgb" : name] = image.second;
    }
    writeModel(models + "/model.3ds", texturedModel(names));

    LaunchOptions launch = kestravCommand({"-p", models + "/model.3ds", out + "/scene.iv"});
    const ProcessResult r = runProcess(launch);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    std::set<std::string> written = {"scene.iv"};
    for (const auto& entry : expected) written.insert(entry.first);
    EXPECT_EQ(filesIn(out), written);
    EXPECT_EQ(readFile(out + "/WOOD.JPG"), jpeg);

    const std::vector<Texture> coin = coinTextures(out + "/scene.iv");
    ASSERT_EQ(coin.size(), images.size());
    for (const Texture& texture : coin) {
        ASSERT_EQ(expected.count(texture.filename), 1u) << texture.filename;
        EXPECT_GT(texture.size[0], 0) << texture.filename;
        const PixelImage* pixels = expected[texture.filename];
        if (!pixels) continue;
        EXPECT_EQ(texture.channels, pixels->channels) << texture.filename;
        EXPECT_EQ(texture.bytes, bottomRowFirst(*pixels)) << texture.filename;
    }

    if (ivcatPath().empty()) GTEST_SKIP() << "ivcat is not installed (Debian package inventor-clients)";
    LaunchOptions ivcat;
    ivcat.argv = {ivcatPath(), "-t", "scene.iv"};
    ivcat.workingDirectory = out;
    const ProcessResult sgi = runProcess(ivcat);
    EXPECT_EQ(sgi.exitStatus, 0);
    EXPECT_EQ(sgi.err, "");
    const std::vector<Texture> read = ivcatTextures(sgi.out);
    ASSERT_EQ(read.size(), coin.size());
    for (size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(read[i].size, coin[i].size) << coin[i].filename;
        if (expected[coin[i].filename]) {
            EXPECT_EQ(read[i].bytes, coin[i].bytes) << coin[i].filename;
        }
    }
}

// The filename of every Texture2 in a scene's text, in order.
std::vector<std::string> namedImages(const std::string& scene) {
    std::vector<std::string> names;
    const std::string text = readFile(scene);
    const std::string key = "filename \"";
    for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) {
        const size_t start = at + key.size();
        names.push_back(text.substr(start, text.find('"', start) - start));
    }
    return names;
}

TEST(PortableE2e, ABatchSharesIdenticalImagesAndNumbersOthersInInputOrder) {
    // a (slow to convert) and b each name WOOD.BMP, different images, and
    // SAME.PNG, the same image.
    const std::string a = freshDirectory("portable-batch-a"), b = freshDirectory("portable-batch-b");
    const std::string woodA = bmpFile(testPattern(8, 8, 3, 0), 24, false);
    const std::string woodB = bmpFile(testPattern(8, 8, 3, 1), 24, false);
    const std::string same = magickFile(testPattern(4, 4, 4), "PNG");
    writeFile(a + "/WOOD.BMP", woodA);
    writeFile(b + "/WOOD.BMP", woodB);
    writeFile(a + "/SAME.PNG", same);
    writeFile(b + "/SAME.PNG", same);
    writeModel(a + "/a.3ds", texturedModel({"WOOD.BMP", "SAME.PNG"}, true));
    writeModel(b + "/b.3ds", texturedModel({"WOOD.BMP", "SAME.PNG"}));
    const std::set<std::string> written = {"a.iv", "b.iv", "WOOD.rgb", "WOOD-2.rgb", "SAME.rgb"};

    const std::string out = freshDirectory("portable-batch-out");
    for (int run = 0; run < 3; ++run) {
        // The third run goes into the folder the first wrote.
        const std::string folder = run == 1 ? freshDirectory("portable-batch-again") : out;
        const ProcessResult r = runProcess(kestravCommand({"-p", "-j", "2", "-d", folder, a + "/a.3ds", b + "/b.3ds"}));
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_EQ(filesIn(folder), written) << run;
        EXPECT_EQ(namedImages(folder + "/a.iv"), std::vector<std::string>({"WOOD.rgb", "SAME.rgb"})) << run;
        EXPECT_EQ(namedImages(folder + "/b.iv"), std::vector<std::string>({"WOOD-2.rgb", "SAME.rgb"})) << run;
        EXPECT_EQ(readFile(folder + "/WOOD.rgb"), portableImage("WOOD.BMP", woodA).bytes);
        EXPECT_EQ(readFile(folder + "/WOOD-2.rgb"), portableImage("WOOD.BMP", woodB).bytes);
    }
    // The other input order gives the plain name to the other image.
    const std::string reversed = freshDirectory("portable-batch-reversed");
    ASSERT_EQ(runProcess(kestravCommand({"-p", "-d", reversed, b + "/b.3ds", a + "/a.3ds"})).exitStatus, 0);
    EXPECT_EQ(namedImages(reversed + "/a.iv"), std::vector<std::string>({"WOOD-2.rgb", "SAME.rgb"}));
    EXPECT_EQ(readFile(reversed + "/WOOD.rgb"), portableImage("WOOD.BMP", woodB).bytes);
}

TEST(PortableE2e, DamagedImagesGetALineAndKeepTheirNamesAndABmpWithoutPGetsOne) {
    const std::string models = freshDirectory("portable-damaged-models");
    const std::string bmp = bmpFile(testPattern(16, 16, 3), 24, false);
    std::string badCrc = magickFile(testPattern(16, 16, 3), "PNG");
    badCrc[29] = char(badCrc[29] ^ 0x55);
    writeFile(models + "/TRUNC.BMP", bmp.substr(0, bmp.size() / 2));
    writeFile(models + "/HUGE.BMP", bmpHeaderOnly(100000, 100000));
    writeFile(models + "/BADCRC.PNG", badCrc);
    writeFile(models + "/EMPTY.BMP", "");
    writeFile(models + "/GOOD.BMP", bmp);
    const std::vector<std::string> names = {"TRUNC.BMP", "HUGE.BMP", "BADCRC.PNG", "EMPTY.BMP", "GOOD.BMP"};
    writeModel(models + "/model.3ds", texturedModel(names));

    LaunchOptions launch = kestravCommand({"-p", "model.3ds", "out/scene.iv"});
    launch.workingDirectory = models;
    fs::create_directories(models + "/out");
    const ProcessResult r = runProcess(launch);
    EXPECT_EQ(r.exitStatus, 0);
    const std::string prefix = "Cannot put texture \"../";
    const std::string suffix = "; the scene names it where it was found.\n";
    std::istringstream lines(r.err);
    std::string line;
    for (const std::string& name : {names[0], names[1], names[2]}) {
        ASSERT_TRUE(std::getline(lines, line));
        EXPECT_EQ(line.rfind(prefix + name + "\" beside the scene: its ", 0), 0u) << line;
        EXPECT_NE(line.find("image cannot be decoded: "), std::string::npos) << line;
    }
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(line + "\n", prefix + "EMPTY.BMP\" beside the scene: the file is empty" + suffix);
    EXPECT_FALSE(std::getline(lines, line)) << line;
    EXPECT_EQ(namedImages(models + "/out/scene.iv"), std::vector<std::string>({"../TRUNC.BMP", "../HUGE.BMP",
                                                                               "../BADCRC.PNG", "../EMPTY.BMP",
                                                                               "GOOD.rgb"}));

    // Without -p the scene names the BMP where it is, with a line.
    const ProcessResult plain = runProcess(kestravCommand({models + "/model.3ds", models + "/plain.iv"}));
    EXPECT_EQ(plain.exitStatus, 0);
    EXPECT_NE(plain.err.find("Texture \"GOOD.BMP\" is a BMP image, which Coin cannot load; -p writes it as SGI RGB "
                             "beside the scene.\n"),
              std::string::npos)
        << plain.err;
    EXPECT_EQ(namedImages(models + "/plain.iv").back(), "GOOD.BMP");
}

}  // namespace
