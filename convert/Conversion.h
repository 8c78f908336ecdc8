#pragma once

// The library's entry points with what only the program needs on top.

#include <string>

#include "convert/SceneWriter.h"
#include "kestrav/kestrav.h"

namespace kestrav {

// convertToFile, telling watch about the temporary file the scene is written
// to, so that a program can remove it when a signal ends the run.
Conversion convertToFileWatched(const std::string& path, const std::string& outputPath, const Options& options,
                                TemporaryWatch watch);

}  // namespace kestrav
