// The image step of -p as kestrav runs it on a found file: the format told
// from the bytes (and, for Targa, the name), decoded within the limits,
// written as SGI RGB. The first byte picks the file name: odd for a .tga name,
// which is the only way a Targa file is taken. A file that is written must be
// a whole SGI RGB image of the size its header says.

#include <cstdint>
#include <cstdio>
#include <string>

#include "appearance/ImageExport.h"

using namespace kestrav;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string name = data[0] & 1 ? "image.tga" : "image.img";
    const PortableImage image = portableImage(name, std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    if (!image.ready || image.name == name) return 0;
    const std::string& out = image.bytes;
    auto word = [&out](size_t at) { return size_t(uint8_t(out[at])) << 8 | uint8_t(out[at + 1]); };
    if (out.size() < 512 || word(0) != 474 || out.size() != 512 + word(6) * word(8) * word(10) || word(10) < 1 ||
        word(10) > 4) {
        std::fprintf(stderr, "not a whole SGI RGB image: %zu bytes\n", out.size());
        __builtin_trap();
    }
    return 0;
}
