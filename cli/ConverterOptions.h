#pragma once

#include <string>

#include "kestrav/kestrav.h"

namespace kestrav {

// Everything the command line says: the conversion's options, what to show and
// which files. Once set, a flag is never cleared.
struct ConverterOptions : Options {
    bool examineViewer = false;
    bool viewOnly = false;
    std::string inputPath;
    std::string outputPath;  // empty: standard output
    std::string programPath;
};

}  // namespace kestrav
