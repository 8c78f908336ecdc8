#pragma once

// GraphicsMagick's C library, which decodes the images of -p. It is loaded
// when the first image is decoded rather than linked: with the codecs it
// links it costs a start-up more than all of Coin does, and most runs decode
// nothing.

#include <magick/api.h>

#include <string>

namespace kestrav {

struct MagickLibrary {
    // Empty once loaded and set up, else why not, for the user.
    std::string failure;
    decltype(&CloneImageInfo) cloneImageInfo = nullptr;
    decltype(&DestroyImageInfo) destroyImageInfo = nullptr;
    decltype(&SetImageInfo) setImageInfo = nullptr;
    decltype(&BlobToImage) blobToImage = nullptr;
    decltype(&DispatchImage) dispatchImage = nullptr;
    decltype(&DestroyImage) destroyImage = nullptr;
    decltype(&GetExceptionInfo) getExceptionInfo = nullptr;
    decltype(&DestroyExceptionInfo) destroyExceptionInfo = nullptr;
};

// Loads the library and sets its limits the first time it is called, from
// any thread; the same library (or failure) after that.
const MagickLibrary& magickLibrary();

}  // namespace kestrav
