#include "appearance/ImageFormat.h"

#include <cstring>

namespace kestrav {

namespace {
bool startsWith(const unsigned char* head, size_t size, const char* signature, size_t length) {
    return size >= length && std::memcmp(head, signature, length) == 0;
}

bool hasTargaExtension(const std::string& fileName) {
    const size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || fileName.size() - dot != 4) return false;
    std::string extension = fileName.substr(dot + 1);
    for (char& c : extension) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return extension == "tga";
}

// ZSoft's header: a manufacturer byte of 10, a known version, run-length
// encoding on or off and a plausible number of bits a pixel.
bool isPcx(const unsigned char* head, size_t size) {
    if (size < 128 || head[0] != 0x0A || head[2] > 1) return false;
    const unsigned char version = head[1], bits = head[3];
    return (version == 0 || (version >= 2 && version <= 5)) && (bits == 1 || bits == 2 || bits == 4 || bits == 8);
}
}  // namespace

ImageFormat imageFormatOf(const unsigned char* head, size_t size, const std::string& fileName) {
    if (startsWith(head, size, "\xFF\xD8\xFF", 3)) return ImageFormat::Jpeg;
    if (startsWith(head, size, "\x01\xDA", 2)) return ImageFormat::SgiRgb;
    if (startsWith(head, size, "\x89PNG\r\n\x1A\n", 8)) return ImageFormat::Png;
    if (startsWith(head, size, "GIF87a", 6) || startsWith(head, size, "GIF89a", 6)) return ImageFormat::Gif;
    if (startsWith(head, size, "II*\0", 4) || startsWith(head, size, "MM\0*", 4)) return ImageFormat::Tiff;
    if (startsWith(head, size, "BM", 2)) return ImageFormat::Bmp;
    if (startsWith(head, size, "DDS ", 4)) return ImageFormat::Dds;
    // Autodesk Animator's cel: 0x9119 little-endian.
    if (startsWith(head, size, "\x19\x91", 2)) return ImageFormat::Cel;
    if (isPcx(head, size)) return ImageFormat::Pcx;
    if (size > 0 && hasTargaExtension(fileName)) return ImageFormat::Targa;
    return ImageFormat::Unknown;
}

const char* imageFormatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::Jpeg: return "JPEG";
    case ImageFormat::SgiRgb: return "SGI RGB";
    case ImageFormat::Png: return "PNG";
    case ImageFormat::Gif: return "GIF";
    case ImageFormat::Tiff: return "TIFF";
    case ImageFormat::Targa: return "Targa";
    case ImageFormat::Bmp: return "BMP";
    case ImageFormat::Pcx: return "PCX";
    case ImageFormat::Dds: return "DDS";
    case ImageFormat::Cel: return "Autodesk cel";
    default: return "unknown";
    }
}

bool coinLoads(ImageFormat format) {
    switch (format) {
    case ImageFormat::Jpeg:
    case ImageFormat::SgiRgb:
    case ImageFormat::Png:
    case ImageFormat::Gif:
    case ImageFormat::Tiff:
    case ImageFormat::Targa: return true;
    default: return false;
    }
}

const char* decoderName(ImageFormat format) {
    switch (format) {
    case ImageFormat::Png: return "PNG";
    case ImageFormat::Gif: return "GIF";
    case ImageFormat::Tiff: return "TIFF";
    case ImageFormat::Targa: return "TGA";
    case ImageFormat::Bmp: return "BMP";
    case ImageFormat::Pcx: return "PCX";
    default: return nullptr;
    }
}

}  // namespace kestrav
