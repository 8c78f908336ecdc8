#pragma once

// The library's entry points with what only the program needs on top.

#include <string>

#include "appearance/ImageExport.h"
#include "convert/ConversionFigures.h"
#include "convert/SceneWriter.h"
#include "kestrav/kestrav.h"

namespace kestrav {

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

// convertToFile, telling watch about the temporary files the scene and its
// images are written to, so that a program can remove them when a signal ends
// the run; with Options::portable the images are named and written while
// imageTurn (when given) is held. Images not found beside the model are looked
// for in archive (null: none); figures, when given, gets what was made.
Conversion convertToFileWatched(const std::string& path, const std::string& outputPath, const Options& options,
                                TemporaryWatch watch, ImageTurn* imageTurn = nullptr,
                                const TextureArchive* archive = nullptr, ConversionFigures* figures = nullptr);

}  // namespace kestrav
