// The image step of -p: SGI RGB files as Coin reads them back, each format
// decoded to the pixels it holds, damaged files refused with a reason, and
// names in a shared folder.

#include <Inventor/SbImage.h>
#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTexture2.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "appearance/ImageExport.h"
#include "appearance/SgiRgbWriter.h"
#include "appearance/TextureImages.h"
#include "tests/support/SceneFixture.h"
#include "tests/support/TestImages.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

void writeBytes(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(SgiRgbWriter, CoinReadsEveryChannelCountTheRightWayUp) {
    SoDB::init();
    for (int channels = 1; channels <= 4; ++channels) {
        const PixelImage pixels = testPattern(5, 3, channels);
        const std::string path = scratchDirectory() + "/pattern" + std::to_string(channels) + ".rgb";
        writeBytes(path, encodeSgiRgb(pixels));
        SbImage image;
        ASSERT_TRUE(image.readFile(path.c_str())) << channels;
        SbVec2s size;
        int read = 0;
        const unsigned char* bytes = image.getValue(size, read);
        ASSERT_EQ(size, SbVec2s(5, 3));
        ASSERT_EQ(read, channels);
        // Coin's rows start at the bottom.
        const size_t row = 5 * size_t(channels);
        for (int y = 0; y < 3; ++y)
            EXPECT_EQ(std::vector<uint8_t>(bytes + y * row, bytes + (y + 1) * row),
                      std::vector<uint8_t>(pixels.pixels.begin() + long((2 - y) * row),
                                           pixels.pixels.begin() + long((3 - y) * row)))
                << channels << " channels, row " << y;
    }
}

TEST(PortableImage, EachFormatBecomesSgiRgbOfItsPixels) {
    const PixelImage colour = testPattern(7, 5, 3);
    const PixelImage grey = testPattern(6, 4, 1);
    const PixelImage alpha = testPattern(5, 3, 4);
    const struct {
        const char* name;
        std::string bytes;
        const PixelImage& expected;
    } cases[] = {
        {"b8up.bmp", bmpFile(colour, 8, false), colour},   {"b8down.bmp", bmpFile(grey, 8, true), grey},
        {"b24up.bmp", bmpFile(colour, 24, false), colour}, {"B24DOWN.BMP", bmpFile(colour, 24, true), colour},
        {"alpha.tga", targaFile(alpha), alpha},            {"alpha.png", magickFile(alpha, "PNG"), alpha},
        {"stripes.gif", magickFile(colour, "GIF"), colour}, {"grey.tif", magickFile(grey, "TIFF"), grey},
        {"stripes.pcx", magickFile(colour, "PCX"), colour},
    };
    for (const auto& c : cases) {
        const PortableImage image = portableImage(c.name, c.bytes);
        ASSERT_TRUE(image.ready) << c.name << ": " << image.failure;
        const std::string stem(c.name, std::string(c.name).rfind('.'));
        EXPECT_EQ(image.name, stem + ".rgb");
        EXPECT_TRUE(image.bytes == encodeSgiRgb(c.expected)) << c.name;
    }
    // JPEG and SGI RGB go as they are, under their own names.
    const std::string jpeg = readTextFile(std::string(std::getenv("KESTRAV_CORPUS")) + "/IMAGE1.jpg");
    const PortableImage copied = portableImage("Image1.JPG", jpeg);
    EXPECT_TRUE(copied.ready && copied.name == "Image1.JPG" && copied.bytes == jpeg);
    const std::string sgi = encodeSgiRgb(alpha);
    EXPECT_EQ(portableImage("x.sgi", sgi).bytes, sgi);
}

TEST(PortableImage, DamagedFilesAreRefusedWithAReason) {
    const PixelImage colour = testPattern(64, 64, 3);
    const std::string bmp = bmpFile(colour, 24, false);
    std::string badCrc = magickFile(colour, "PNG");
    badCrc[29] = char(badCrc[29] ^ 0x55);  // in the header chunk's CRC
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"truncated.bmp", bmp.substr(0, bmp.size() / 2), "BMP image cannot be decoded"},
        {"huge.bmp", bmpHeaderOnly(100000, 100000), "BMP image cannot be decoded"},
        {"wide.bmp", bmpHeaderOnly(16385, 1), "BMP image cannot be decoded"},
        {"badcrc.png", badCrc, "PNG image cannot be decoded"},
        {"empty.bmp", "", "the file is empty"},
        {"notes.bmp", "not an image at all", "not in an image format kestrav knows"},
        {"old.dds", std::string("DDS ") + std::string(124, '\0'), "no decoder reads DDS images"},
    };
    for (const auto& c : cases) {
        const PortableImage image = portableImage(c.name, c.bytes);
        EXPECT_FALSE(image.ready) << c.name;
        EXPECT_NE(image.failure.find(c.reason), std::string::npos) << c.name << ": " << image.failure;
    }
}

// A scene of one SoTexture2 a name.
SoSeparator* sceneNaming(const std::vector<std::string>& names) {
    SoSeparator* root = new SoSeparator;
    root->ref();
    for (const std::string& name : names) {
        SoTexture2* texture = new SoTexture2;
        referenceTextureImage(texture->filename, name.c_str());
        root->addChild(texture);
    }
    return root;
}

std::vector<std::string> filenames(SoSeparator* root) {
    std::vector<std::string> names;
    for (int i = 0; i < root->getNumChildren(); ++i)
        names.push_back(static_cast<SoTexture2*>(root->getChild(i))->filename.getValue().getString());
    return names;
}

TEST(ExportImages, SameBytesAreSharedOtherBytesNumberedAndNothingTwice) {
    SoDB::init();
    const std::string scene = scratchDirectory() + "/export-scene";
    const std::string one = bmpFile(testPattern(4, 4, 3, 0), 24, false);
    const std::string two = bmpFile(testPattern(4, 4, 3, 1), 24, false);
    writeBytes(scene + "/one/wood.bmp", one);
    writeBytes(scene + "/two/wood.bmp", two);
    writeBytes(scene + "/three/wood.bmp", one);
    writeBytes(scene + "/bad/cut.bmp", one.substr(0, 60));
    const std::vector<std::string> names = {"one/wood.bmp", "two/wood.bmp", "three/wood.bmp", "bad/cut.bmp"};

    // Without -p only a line for each image Coin cannot load.
    SoSeparator* plain = sceneNaming(names);
    std::vector<std::string> lines;
    exportImages(plain, scene, ImageWriting(), lines);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Texture \"one/wood.bmp\" is a BMP image, which Coin cannot load; -p writes it as SGI RGB "
                        "beside the scene.");
    EXPECT_EQ(filenames(plain), names);
    plain->unref();

    ImageWriting portable;
    portable.portable = true;
    for (int run = 0; run < 2; ++run) {
        SoSeparator* root = sceneNaming(names);
        lines.clear();
        exportImages(root, scene, portable, lines);
        EXPECT_EQ(filenames(root), std::vector<std::string>({"wood.rgb", "wood-2.rgb", "wood.rgb", "bad/cut.bmp"}));
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("Cannot put texture \"bad/cut.bmp\" beside the scene: its BMP image cannot be "
                                 "decoded: ",
                                 0),
                  0u)
            << lines[0];
        root->unref();
    }
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(scene)) files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);
    EXPECT_EQ(readTextFile(scene + "/wood-2.rgb"), portableImage("wood.bmp", two).bytes);
}

}  // namespace
