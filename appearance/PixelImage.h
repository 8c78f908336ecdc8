#pragma once

#include <cstdint>
#include <vector>

namespace kestrav {

// Pixels with their channels interleaved (grey, grey and alpha, RGB or RGBA),
// the top row first.
struct PixelImage {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
};

}  // namespace kestrav
