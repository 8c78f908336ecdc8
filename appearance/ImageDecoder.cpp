#include "appearance/ImageDecoder.h"

#include <Magick++.h>
#include <zlib.h>

#include <algorithm>
#include <mutex>

namespace kestrav {

namespace {
const long kMemoryLimit = 1024l << 20;

// GraphicsMagick's limits hold for the whole process; they are set once,
// before the first decode. No pixel cache on disk: an image that does not fit
// the memory limit is refused.
void setUpGraphicsMagick() {
    static std::once_flag once;
    std::call_once(once, [] {
        Magick::InitializeMagick(nullptr);
        using namespace MagickLib;
        SetMagickResourceLimit(WidthResource, kLargestImageSide);
        SetMagickResourceLimit(HeightResource, kLargestImageSide);
        SetMagickResourceLimit(PixelsResource, magick_int64_t(kMostImagePixels));
        SetMagickResourceLimit(MemoryResource, kMemoryLimit);
        SetMagickResourceLimit(MapResource, 0);
        SetMagickResourceLimit(DiskResource, 0);
        SetMagickResourceLimit(ThreadsResource, 1);
    });
}

DecodedImage failed(const std::string& why) {
    DecodedImage result;
    result.failure = why;
    return result;
}

// GraphicsMagick's own text ends with where in its sources it arose.
std::string reasonOf(const Magick::Exception& error) {
    std::string text = error.what();
    const size_t source = text.find(" reported by ");
    if (source != std::string::npos) text.erase(source);
    const std::string prefix = "Magick: ";
    if (text.compare(0, prefix.size(), prefix) == 0) text.erase(0, prefix.size());
    return text;
}

uint32_t bigEndian(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) value = value << 8 | uint8_t(bytes[at + i]);
    return value;
}

// libpng, as GraphicsMagick sets it up, takes chunks whose CRC does not match;
// such a file is damaged, and Coin refuses it. Empty when every chunk up to
// IEND is whole, else why not.
std::string pngDamage(const std::string& bytes) {
    const size_t signature = 8;
    for (size_t at = signature; at + 12 <= bytes.size();) {
        const uint32_t length = bigEndian(bytes, at);
        if (length > bytes.size() - at - 12) return "its chunks end early";
        const std::string type = bytes.substr(at + 4, 4);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + at + 4), uInt(length + 4));
        if (crc != bigEndian(bytes, at + 8 + length)) return "its " + type + " chunk fails its CRC check";
        if (type == "IEND") return "";
        at += 12 + size_t(length);
    }
    return "its chunks end early";
}

// Keeps only the channels that carry something: grey when every pixel is,
// alpha when some pixel is not opaque.
PixelImage compact(uint32_t width, uint32_t height, std::vector<uint8_t> rgba) {
    bool grey = true, opaque = true;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        grey = grey && rgba[i] == rgba[i + 1] && rgba[i] == rgba[i + 2];
        opaque = opaque && rgba[i + 3] == 255;
    }
    PixelImage image;
    image.width = width;
    image.height = height;
    image.channels = (grey ? 1 : 3) + (opaque ? 0 : 1);
    if (image.channels == 4) {
        image.pixels = std::move(rgba);
        return image;
    }
    // Narrowed in place: each pixel moves to where it is not yet read from.
    size_t out = 0;
    for (size_t i = 0; i < rgba.size(); i += 4) {
        rgba[out++] = rgba[i];
        if (!grey) {
            rgba[out++] = rgba[i + 1];
            rgba[out++] = rgba[i + 2];
        }
        if (!opaque) rgba[out++] = rgba[i + 3];
    }
    rgba.resize(out);
    rgba.shrink_to_fit();
    image.pixels = std::move(rgba);
    return image;
}
}  // namespace

DecodedImage decodeImage(const std::string& bytes, ImageFormat format) {
    const char* decoder = decoderName(format);
    if (!decoder) return failed(std::string("no decoder reads ") + imageFormatName(format) + " images here");
    if (format == ImageFormat::Png) {
        const std::string damage = pngDamage(bytes);
        if (!damage.empty()) return failed(damage);
    }
    setUpGraphicsMagick();
    std::vector<uint8_t> rgba;
    uint32_t width = 0, height = 0;
    try {
        Magick::Image image;
        image.magick(decoder);
        image.subImage(0);
        image.subRange(1);
        try {
            image.read(Magick::Blob(bytes.data(), bytes.size()));
        } catch (const Magick::Warning& warning) {
            // A damaged file can still give pixels, some of them made up.
            if (dynamic_cast<const Magick::WarningCorruptImage*>(&warning)) return failed(reasonOf(warning));
        }
        // The signature decides which coder reads a file; it must be the one asked for.
        if (image.magick() != decoder) return failed(std::string("not a ") + imageFormatName(format) + " image");
        width = uint32_t(image.columns());
        height = uint32_t(image.rows());
        if (width == 0 || height == 0 || width > kLargestImageSide || height > kLargestImageSide)
            return failed("its size " + std::to_string(width) + " x " + std::to_string(height) + " is out of range");
        rgba.resize(size_t(width) * height * 4);
        if (image.matte()) {
            image.write(0, 0, width, height, "RGBA", Magick::CharPixel, rgba.data());
        } else {
            // Without a matte channel GraphicsMagick leaves the opacity it
            // would give unset: the pixels are read as RGB and made opaque,
            // from the last one back so none is overwritten before it is moved.
            image.write(0, 0, width, height, "RGB", Magick::CharPixel, rgba.data());
            for (size_t i = size_t(width) * height; i-- > 0;) {
                rgba[4 * i + 3] = 255;
                rgba[4 * i + 2] = rgba[3 * i + 2];
                rgba[4 * i + 1] = rgba[3 * i + 1];
                rgba[4 * i] = rgba[3 * i];
            }
        }
    } catch (const Magick::Exception& error) {
        return failed(reasonOf(error));
    } catch (const std::bad_alloc&) {
        return failed("not enough memory to decode it");
    }
    DecodedImage result;
    result.decoded = true;
    result.image = compact(width, height, std::move(rgba));
    return result;
}

}  // namespace kestrav
