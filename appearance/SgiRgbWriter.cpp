#include "appearance/SgiRgbWriter.h"

namespace kestrav {

namespace {
const size_t kHeaderSize = 512;
const uint16_t kMagic = 474;

void putBigEndian(std::string& out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + size_t(i)] = char(value >> (8 * (bytes - 1 - i)) & 0xFF);
}
}  // namespace

std::string encodeSgiRgb(const PixelImage& image) {
    const size_t width = image.width, rows = image.height, channels = size_t(image.channels);
    std::string out(kHeaderSize + width * rows * channels, '\0');
    putBigEndian(out, 0, kMagic, 2);
    out[2] = 0;  // verbatim
    out[3] = 1;  // one byte a channel
    putBigEndian(out, 4, channels == 1 ? 2 : 3, 2);
    putBigEndian(out, 6, image.width, 2);
    putBigEndian(out, 8, image.height, 2);
    putBigEndian(out, 10, uint32_t(channels), 2);
    putBigEndian(out, 12, 0, 4);    // smallest value
    putBigEndian(out, 16, 255, 4);  // largest value
    // One plane a channel, each from the bottom row up.
    char* plane = &out[kHeaderSize];
    for (size_t channel = 0; channel < channels; ++channel) {
        for (size_t y = 0; y < rows; ++y) {
            const uint8_t* row = image.pixels.data() + (rows - 1 - y) * width * channels + channel;
            for (size_t x = 0; x < width; ++x) *plane++ = char(row[x * channels]);
        }
    }
    return out;
}

}  // namespace kestrav
