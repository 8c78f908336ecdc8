#pragma once

#include <string>
#include <vector>

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
    // -d: every batch input is converted into this folder (empty: one file).
    std::string batchFolder;
    std::vector<std::string> batchInputs;
    // -r: folder inputs stand for the models below them, scenes mirror the paths.
    bool recursive = false;
    bool onlyNewer = false;  // -u: a scene newer than its model is left alone
    std::string filesFrom;   // --files-from: more inputs, one a line ("-": standard input)
    std::string reportPath;  // --report: JSON Lines, one object per model ("-": standard output)
};

}  // namespace kestrav
