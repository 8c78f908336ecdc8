#pragma once

// Small images in the formats -p reads, made here byte by byte (BMP, Targa)
// or with GraphicsMagick (PNG, GIF), with pixels the tests know.

#include <cstdint>
#include <string>

#include "appearance/PixelImage.h"

namespace kestrav {

// Six colours in stripes, or their greys; with alpha, each column less opaque.
PixelImage testPattern(uint32_t width, uint32_t height, int channels, int seed = 0);

// A BITMAPINFOHEADER BMP: 8 bits a pixel with a palette, or 24; rows bottom-up
// as usual, or top-down (negative height). Alpha is dropped.
std::string bmpFile(const PixelImage& pixels, int bits, bool topDown);
// An uncompressed 32-bit Targa with alpha, the top row first.
std::string targaFile(const PixelImage& pixels);
// The pixels written by GraphicsMagick in format ("PNG", "GIF", "TIFF", "PCX").
std::string magickFile(const PixelImage& pixels, const char* format);

// A BMP header that says width x height with no pixels after it.
std::string bmpHeaderOnly(int32_t width, int32_t height);

}  // namespace kestrav
