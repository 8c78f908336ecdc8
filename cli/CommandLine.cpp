#include "cli/CommandLine.h"

#include <cstdlib>
#include <iostream>
#include <string>

namespace kestrav {

namespace {
const int kMalformedStatus = 2;

const char* const kUsageLines[] = {
    "Usage: kestrav [options] infile [outfile]\n",
    "   -e      : Use Examine viewer to show the model and create outfile\n",
    "   -f      : Compute normals using flat shading\n",
    "   -h      : Print this message (help)\n",
    "   -s      : Force two sided materials\n",
    "   -b      : Turn on bump map support\n",
    "   -a      : Keep the keyframer animation as engines\n",
    "   -t      : Do not apply textures\n",
    "   -v      : Do not create outfile, only use Examine viewer to show the model\n",
    "If no input or output file name is specified, stdin and stdout will be used.\n",
};

// Applies one option letter; false for a letter that ends the parse.
bool applyLetter(char letter, ConverterOptions& options) {
    switch (letter) {
        case 'a': options.animation = true; return true;
        case 'b': options.bumpMaps = true; return true;
        case 'e': options.examineViewer = true; return true;
        case 'f': options.flatShading = true; return true;
        case 's': options.twoSided = true; return true;
        case 't': options.noTextures = true; return true;
        case 'v': options.viewOnly = true; return true;
        default: return false;
    }
}
}  // namespace

CommandLineVerdict decideCommandLine(int argc, const char* const* argv, ConverterOptions& options) {
    if (argc <= 1) return CommandLineVerdict::Malformed;

    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        for (const char* letter = argv[index] + 1; *letter; ++letter) {
            if (*letter == 'h') return CommandLineVerdict::Help;
            if (!applyLetter(*letter, options)) return CommandLineVerdict::Malformed;
        }
    }

    // Options come only before the file names; anything after them that looks
    // like an option makes the line invalid.
    const int rest = argc - index;
    if (rest == 1) {
        options.inputPath = argv[index];
        options.outputPath.clear();
        return CommandLineVerdict::Ok;
    }
    if (rest == 2 && argv[index + 1][0] != '-') {
        options.inputPath = argv[index];
        options.outputPath = argv[index + 1];
        return CommandLineVerdict::Ok;
    }
    return CommandLineVerdict::Malformed;
}

// In one write, so the text is never interleaved with another program's.
void printUsage() {
    std::string text;
    for (const char* line : kUsageLines) text += line;
    std::cout << text;
}

void parseCommandLine(int argc, char** argv, ConverterOptions& options) {
    const CommandLineVerdict verdict = decideCommandLine(argc, argv, options);
    if (verdict == CommandLineVerdict::Ok) return;
    printUsage();
    std::cout.flush();
    std::exit(verdict == CommandLineVerdict::Help ? 0 : kMalformedStatus);
}

}  // namespace kestrav
