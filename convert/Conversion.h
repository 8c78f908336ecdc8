#pragma once

// The library's entry points with what only the program needs on top.

#include <memory>
#include <string>

#include "appearance/ImageExport.h"
#include "convert/ConversionFigures.h"
#include "convert/SceneWriter.h"
#include "kestrav/kestrav.h"

namespace kestrav {

class SceneConverter;
class TextureArchive;

// How the library's entry points give a Conversion its scene.
struct ConversionScene {
    // The conversion takes over the reference the caller holds to root.
    static void hold(Conversion& conversion, SoSeparator* root);
};

// convert, telling watch about the temporary files the images of
// Options::portable are written to.
Conversion convertWatched(const std::string& path, const Options& options, const std::string& scenePath,
                          TemporaryWatch watch);

// What a caller does with the scene of convertToFileWatched once it is written.
enum class SceneUse {
    Kept,        // uses it: the root holds the whole scene
    WrittenOnly  // only writes it: built as it is written when it can be (see StreamedConversion)
};

// convertToFile, telling watch about the temporary files the scene and its
// images are written to, so that a program can remove them when a signal ends
// the run; with Options::portable the images are named and written while
// imageTurn (when given) is held. Images not found beside the model are looked
// for in archive (null: none); figures, when given, gets what was made.
Conversion convertToFileWatched(const std::string& path, const std::string& outputPath, const Options& options,
                                TemporaryWatch watch, ImageTurn* imageTurn = nullptr,
                                const TextureArchive* archive = nullptr, ConversionFigures* figures = nullptr,
                                SceneUse use = SceneUse::Kept);

// One conversion for a program that writes its scene and needs nothing of it
// afterwards: each mesh instance is built only when the write reaches it, and
// emptied once written, so the whole scene is never held at once. The scene's
// bytes, the status and the lines are those of convertWatched and writeScene.
// Not for Options::animation, whose engines span the scene, nor for
// Options::portable, whose images are written before the scene: see canStream.
class StreamedConversion {
public:
    static bool canStream(const Options& options) { return !options.animation && !options.portable; }

    // Reads the model and builds the scene's frame (scenePath as for convert).
    StreamedConversion(const std::string& path, const Options& options, const std::string& scenePath,
                       const TextureArchive* archive = nullptr);
    ~StreamedConversion();
    StreamedConversion(const StreamedConversion&) = delete;
    StreamedConversion& operator=(const StreamedConversion&) = delete;

    // The status and lines, and a root that holds the frame until the write,
    // hollow parts after it; no root when there is nothing to write.
    Conversion& conversion() { return result; }
    ConversionFigures figures() const;

    // writeScene for the scene, once. std::bad_alloc while a part is built is
    // passed on, with the temporary file removed.
    bool write(const std::string& outputPath, std::string& failure, SceneFormat format, TemporaryWatch watch,
               size_t threads);

private:
    Conversion result;
    std::unique_ptr<SceneConverter> converter;
};

}  // namespace kestrav
