#include "appearance/MagickLibrary.h"

#include <dlfcn.h>

#include "appearance/ImageDecoder.h"

namespace kestrav {

namespace {
// Debian's libgraphicsmagick-q16-3, which the package depends on.
const char* const kLibraryName = "libGraphicsMagick-Q16.so.3";
const long kMemoryLimit = 1024l << 20;

template <typename Function>
bool find(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

MagickLibrary load() {
    MagickLibrary magick;
    // Never closed: GraphicsMagick keeps its set-up until the process ends.
    void* library = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    decltype(&InitializeMagick) initialize = nullptr;
    decltype(&SetMagickResourceLimit) setLimit = nullptr;
    const bool found = library && find(library, "InitializeMagick", initialize) &&
                       find(library, "SetMagickResourceLimit", setLimit) &&
                       find(library, "CloneImageInfo", magick.cloneImageInfo) &&
                       find(library, "DestroyImageInfo", magick.destroyImageInfo) &&
                       find(library, "SetImageInfo", magick.setImageInfo) &&
                       find(library, "BlobToImage", magick.blobToImage) &&
                       find(library, "DispatchImage", magick.dispatchImage) &&
                       find(library, "DestroyImage", magick.destroyImage) &&
                       find(library, "GetExceptionInfo", magick.getExceptionInfo) &&
                       find(library, "DestroyExceptionInfo", magick.destroyExceptionInfo);
    if (!found) {
        magick.failure = std::string("GraphicsMagick cannot be loaded (") + dlerror() + ")";
        return magick;
    }
    // The limits hold for the whole process. No pixel cache on disk: an image
    // that does not fit the memory limit is refused.
    initialize(nullptr);
    setLimit(WidthResource, kLargestImageSide);
    setLimit(HeightResource, kLargestImageSide);
    setLimit(PixelsResource, magick_int64_t(kMostImagePixels));
    setLimit(MemoryResource, kMemoryLimit);
    setLimit(MapResource, 0);
    setLimit(DiskResource, 0);
    setLimit(ThreadsResource, 1);
    return magick;
}
}  // namespace

const MagickLibrary& magickLibrary() {
    static const MagickLibrary magick = load();
    return magick;
}

}  // namespace kestrav
