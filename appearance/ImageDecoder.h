#pragma once

// Decodes texture images with GraphicsMagick, within limits that keep a
// hostile file from taking the process's memory or time.

#include <string>

#include "appearance/ImageFormat.h"
#include "appearance/SgiRgbWriter.h"

namespace kestrav {

// Largest width or height decoded, and most pixels in all.
inline constexpr unsigned kLargestImageSide = 16384;
inline constexpr unsigned long long kMostImagePixels = 1ull << 26;

struct DecodedImage {
    bool decoded = false;
    // Grey or colour, with alpha only where some pixel is not opaque.
    PixelImage image;
    std::string failure;  // why not, for the user
};

// Decodes the first frame of bytes, which must be in format (one with a decoder).
DecodedImage decodeImage(const std::string& bytes, ImageFormat format);

}  // namespace kestrav
