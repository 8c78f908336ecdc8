#pragma once

#include <string>

namespace kestrav {

// Everything the command line says. Flags are 0 or 1; once set, never cleared.
struct ConverterOptions {
    int flatShading;
    int noTextures;
    int examineViewer;
    int twoSided;
    int viewOnly;
    int bumpMaps;
    int binaryOutput;
    std::string inputPath;
    std::string outputPath;  // empty: standard output
    std::string programPath;

    ConverterOptions();
    ConverterOptions(const ConverterOptions& other);
    ConverterOptions& operator=(const ConverterOptions& other);
};

}  // namespace kestrav
