#pragma once

// Pixels for the viewer tests: what a window on the tests' X server shows, and
// what an image file holds, both as 8-bit RGB.

#include <cstddef>
#include <string>
#include <vector>

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> rgb;  // rows top to bottom

    bool empty() const { return rgb.empty(); }
    const unsigned char* at(int x, int y) const { return &rgb[3 * (std::size_t(y) * width + x)]; }
};

// The drawing area of a program's top-level window: its largest window
// without children. Empty when the window is gone.
RgbImage captureDrawingArea(const std::string& display, unsigned long topLevel);

// An image file decoded by ImageMagick; empty when it cannot be read.
RgbImage readImageFile(const std::string& path);
