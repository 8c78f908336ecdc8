#include "appearance/ImageDecoder.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "appearance/MagickLibrary.h"

namespace kestrav {

namespace {
DecodedImage failed(const std::string& why) {
    DecodedImage result;
    result.failure = why;
    return result;
}

// A report of GraphicsMagick's, freed with what it holds.
class MagickReport {
public:
    explicit MagickReport(const MagickLibrary& library) : magick(library) { magick.getExceptionInfo(&report); }
    ~MagickReport() { magick.destroyExceptionInfo(&report); }
    MagickReport(const MagickReport&) = delete;
    MagickReport& operator=(const MagickReport&) = delete;

    ExceptionInfo report;

private:
    const MagickLibrary& magick;
};

// GraphicsMagick's reason, with its description when it gives one.
std::string reasonOf(const ExceptionInfo& report) {
    std::string text = report.reason ? report.reason : "GraphicsMagick cannot decode it";
    if (report.description) text += std::string(" (") + report.description + ")";
    return text;
}

// A warning still gives pixels, some of them perhaps made up; a corrupt
// image's warning and every error do not.
bool leavesPixels(ExceptionType severity) {
    return severity == UndefinedException ||
           (severity >= WarningException && severity < ErrorException && severity != CorruptImageWarning);
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

// Reads the first frame with the decoder named, whatever the signature says;
// empty (with why in failure) when there are no pixels to take.
std::vector<uint8_t> readPixels(const MagickLibrary& magick, const std::string& bytes, ImageFormat format,
                                uint32_t& width, uint32_t& height, std::string& failure) {
    const char* decoder = decoderName(format);
    std::unique_ptr<ImageInfo, decltype(magick.destroyImageInfo)> info(magick.cloneImageInfo(nullptr),
                                                                       magick.destroyImageInfo);
    {
        // The decoder's name as the file's prefix, as GraphicsMagick's own tools take it.
        MagickReport ignored(magick);
        std::snprintf(info->filename, sizeof info->filename, "%s:", decoder);
        magick.setImageInfo(info.get(), MagickTrue, &ignored.report);
    }
    info->subimage = 0;
    info->subrange = 1;
    MagickReport read(magick);
    std::unique_ptr<Image, decltype(magick.destroyImage)> image(
        magick.blobToImage(info.get(), bytes.data(), bytes.size(), &read.report), magick.destroyImage);
    // Only the first report counts: the reading's own, else the image's.
    const ExceptionInfo& report = read.report.severity != UndefinedException || !image ? read.report : image->exception;
    if (!leavesPixels(report.severity)) {
        failure = reasonOf(report);
        return {};
    }
    // The signature decides which coder reads a file; it must be the one asked for.
    if (image && std::strcmp(image->magick, decoder) != 0) {
        failure = std::string("not a ") + imageFormatName(format) + " image";
        return {};
    }
    width = image ? uint32_t(image->columns) : 0;
    height = image ? uint32_t(image->rows) : 0;
    if (width == 0 || height == 0 || width > kLargestImageSide || height > kLargestImageSide) {
        failure = "its size " + std::to_string(width) + " x " + std::to_string(height) + " is out of range";
        return {};
    }
    std::vector<uint8_t> rgba(size_t(width) * height * 4);
    MagickReport taken(magick);
    // Without a matte channel GraphicsMagick leaves the opacity it would give
    // unset: the pixels are taken as RGB and made opaque, from the last one
    // back so none is overwritten before it is moved.
    const bool matte = image->matte;
    magick.dispatchImage(image.get(), 0, 0, width, height, matte ? "RGBA" : "RGB", CharPixel, rgba.data(),
                         &taken.report);
    if (taken.report.severity != UndefinedException) {
        failure = reasonOf(taken.report);
        return {};
    }
    if (!matte) {
        for (size_t i = size_t(width) * height; i-- > 0;) {
            rgba[4 * i + 3] = 255;
            rgba[4 * i + 2] = rgba[3 * i + 2];
            rgba[4 * i + 1] = rgba[3 * i + 1];
            rgba[4 * i] = rgba[3 * i];
        }
    }
    return rgba;
}
}  // namespace

DecodedImage decodeImage(const std::string& bytes, ImageFormat format) {
    if (!decoderName(format)) return failed(std::string("no decoder reads ") + imageFormatName(format) + " images here");
    if (format == ImageFormat::Png) {
        const std::string damage = pngDamage(bytes);
        if (!damage.empty()) return failed(damage);
    }
    const MagickLibrary& magick = magickLibrary();
    if (!magick.failure.empty()) return failed(magick.failure);
    std::vector<uint8_t> rgba;
    uint32_t width = 0, height = 0;
    std::string failure;
    try {
        rgba = readPixels(magick, bytes, format, width, height, failure);
    } catch (const std::bad_alloc&) {
        return failed("not enough memory to decode it");
    }
    if (rgba.empty()) return failed(failure);
    DecodedImage result;
    result.decoded = true;
    result.image = compact(width, height, std::move(rgba));
    return result;
}

}  // namespace kestrav
