#pragma once

// What kind of image a texture file holds, told from its first bytes (and,
// for Targa, which has no signature, from its name).

#include <cstddef>
#include <string>

namespace kestrav {

enum class ImageFormat { Unknown, Jpeg, SgiRgb, Png, Gif, Tiff, Targa, Bmp, Pcx, Dds, Cel };

ImageFormat imageFormatOf(const unsigned char* head, size_t size, const std::string& fileName);

// "JPEG", "BMP", ...: as the user knows the format.
const char* imageFormatName(ImageFormat format);

// Whether Coin's image library (simage) reads such a file.
bool coinLoads(ImageFormat format);

// The GraphicsMagick coder that decodes the format, or null when it has none.
const char* decoderName(ImageFormat format);

}  // namespace kestrav
