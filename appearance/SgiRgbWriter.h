#pragma once

// SGI's image file (.rgb), which Coin and SGI Inventor both load: 8 bits a
// channel, one to four channels, stored verbatim. SGI Inventor's reader on
// 64-bit systems crashes on the run-length encoded form, so it is not written.

#include <string>

#include "appearance/PixelImage.h"

namespace kestrav {

// The whole .rgb file of image; width and height at most 65535, channels 1 to 4.
std::string encodeSgiRgb(const PixelImage& image);

}  // namespace kestrav
