#include "tests/support/TestImages.h"

#include <Magick++.h>

#include <array>
#include <map>

namespace kestrav {

namespace {
const uint8_t kColours[6][3] = {{200, 30, 30}, {30, 180, 40}, {20, 40, 220}, {240, 220, 10}, {10, 200, 210}, {150, 0, 160}};

void putLittle(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += char(value >> (8 * i) & 0xFF);
}

std::string bmpHeaders(int32_t width, int32_t height, int bits, uint32_t paletteSize, uint32_t pixelBytes) {
    std::string out = "BM";
    const uint32_t offset = 14 + 40 + 4 * paletteSize;
    putLittle(out, offset + pixelBytes, 4);
    putLittle(out, 0, 4);
    putLittle(out, offset, 4);
    putLittle(out, 40, 4);
    putLittle(out, uint32_t(width), 4);
    putLittle(out, uint32_t(height), 4);
    putLittle(out, 1, 2);
    putLittle(out, uint32_t(bits), 2);
    putLittle(out, 0, 4);  // no compression
    putLittle(out, pixelBytes, 4);
    putLittle(out, 2835, 4);
    putLittle(out, 2835, 4);
    putLittle(out, paletteSize, 4);
    putLittle(out, 0, 4);
    return out;
}

// The pixel's red, green and blue, and its alpha.
std::array<uint8_t, 4> rgbaAt(const PixelImage& pixels, size_t index) {
    const uint8_t* p = pixels.pixels.data() + index * size_t(pixels.channels);
    if (pixels.channels == 1) return {p[0], p[0], p[0], 255};
    return {p[0], p[1], p[2], pixels.channels == 4 ? p[3] : uint8_t(255)};
}
}  // namespace

PixelImage testPattern(uint32_t width, uint32_t height, int channels, int seed) {
    PixelImage image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* colour = kColours[(x + 2 * y + uint32_t(seed)) % 6];
            if (channels == 1) {
                image.pixels.push_back(uint8_t((colour[0] + colour[1] + colour[2]) / 3));
                continue;
            }
            image.pixels.insert(image.pixels.end(), colour, colour + 3);
            if (channels == 4) image.pixels.push_back(uint8_t(255 - (x * 37) % 256));
        }
    }
    return image;
}

std::string bmpFile(const PixelImage& pixels, int bits, bool topDown) {
    const size_t count = size_t(pixels.width) * pixels.height;
    std::map<std::array<uint8_t, 4>, uint8_t> palette;
    std::vector<std::array<uint8_t, 4>> colours;
    if (bits == 8)
        for (size_t i = 0; i < count; ++i) {
            std::array<uint8_t, 4> colour = rgbaAt(pixels, i);
            colour[3] = 0;
            if (palette.emplace(colour, uint8_t(colours.size())).second) colours.push_back(colour);
        }
    const size_t rowBytes = (size_t(pixels.width) * size_t(bits / 8) + 3) / 4 * 4;
    std::string out = bmpHeaders(int32_t(pixels.width), topDown ? -int32_t(pixels.height) : int32_t(pixels.height),
                                 bits, uint32_t(colours.size()), uint32_t(rowBytes * pixels.height));
    for (const auto& colour : colours) {
        out += char(colour[2]);
        out += char(colour[1]);
        out += char(colour[0]);
        out += char(0);
    }
    for (uint32_t row = 0; row < pixels.height; ++row) {
        const uint32_t y = topDown ? row : pixels.height - 1 - row;
        std::string line;
        for (uint32_t x = 0; x < pixels.width; ++x) {
            std::array<uint8_t, 4> colour = rgbaAt(pixels, size_t(y) * pixels.width + x);
            colour[3] = 0;
            if (bits == 8) {
                line += char(palette[colour]);
            } else {
                line += char(colour[2]);
                line += char(colour[1]);
                line += char(colour[0]);
            }
        }
        line.resize(rowBytes, '\0');
        out += line;
    }
    return out;
}

std::string targaFile(const PixelImage& pixels) {
    std::string out;
    out += char(0);  // no image id
    out += char(0);  // no colour map
    out += char(2);  // true colour, uncompressed
    out.append(5, '\0');
    putLittle(out, 0, 2);
    putLittle(out, 0, 2);
    putLittle(out, pixels.width, 2);
    putLittle(out, pixels.height, 2);
    out += char(32);
    out += char(0x28);  // 8 alpha bits, the top row first
    for (size_t i = 0; i < size_t(pixels.width) * pixels.height; ++i) {
        const std::array<uint8_t, 4> colour = rgbaAt(pixels, i);
        out += char(colour[2]);
        out += char(colour[1]);
        out += char(colour[0]);
        out += char(colour[3]);
    }
    return out;
}

std::string magickFile(const PixelImage& pixels, const char* format) {
    static const char* const maps[] = {"", "I", "IA", "RGB", "RGBA"};
    Magick::InitializeMagick(nullptr);
    Magick::Image image;
    image.read(pixels.width, pixels.height, maps[pixels.channels], Magick::CharPixel, pixels.pixels.data());
    image.magick(format);
    Magick::Blob blob;
    image.write(&blob);
    return std::string(static_cast<const char*>(blob.data()), blob.length());
}

std::string bmpHeaderOnly(int32_t width, int32_t height) { return bmpHeaders(width, height, 24, 0, 0); }

}  // namespace kestrav
