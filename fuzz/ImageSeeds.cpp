// Writes small images of every format the image step reads into the folder
// named on the command line, as seeds for the image fuzz target: each behind
// the byte that picks its file name.

#include <cstdio>
#include <string>

#include "appearance/SgiRgbWriter.h"
#include "tests/support/TestImages.h"

using namespace kestrav;

namespace {
bool writeSeed(const std::string& path, char selector, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fputc(selector, file) != EOF && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: image_fuzz_seeds FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const PixelImage colour = testPattern(7, 5, 3), grey = testPattern(6, 4, 1), alpha = testPattern(5, 3, 4);
    const struct {
        const char* name;
        char selector;
        std::string bytes;
    } seeds[] = {
        {"bmp8-up", 0, bmpFile(colour, 8, false)},    {"bmp8-down", 0, bmpFile(grey, 8, true)},
        {"bmp24-up", 0, bmpFile(colour, 24, false)},  {"bmp24-down", 0, bmpFile(colour, 24, true)},
        {"targa32", 1, targaFile(alpha)},             {"png", 0, magickFile(alpha, "PNG")},
        {"gif", 0, magickFile(colour, "GIF")},        {"tiff", 0, magickFile(grey, "TIFF")},
        {"pcx", 0, magickFile(colour, "PCX")},        {"jpeg", 0, magickFile(colour, "JPEG")},
        {"sgi", 0, encodeSgiRgb(alpha)},
    };
    for (const auto& seed : seeds) {
        if (!writeSeed(folder + "/image-" + seed.name, seed.selector, seed.bytes)) {
            std::perror(seed.name);
            return 1;
        }
    }
    return 0;
}
