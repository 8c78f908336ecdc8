#include "cli/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <string>

namespace kestrav {

namespace {
const int kMalformedStatus = 2;
const long kMostWorkers = 1024;

const char* const kUsageLines[] = {
    "Usage: kestrav [options] infile [outfile]\n",
    "       kestrav [options] -d outdir infile...\n",
    "   -d dir  : Convert every infile to dir/<its name>.iv, creating dir if missing\n",
    "   -e      : Use Examine viewer to show the model and create outfile\n",
    "   -f      : Compute normals using flat shading\n",
    "   -h      : Print this message (help)\n",
    "   -j n    : With -d, convert n files at a time (default: one per processor)\n",
    "   -s      : Force two sided materials\n",
    "   -b      : Turn on bump map support\n",
    "   -t      : Do not apply textures\n",
    "   -v      : Do not create outfile, only use Examine viewer to show the model\n",
    "If no input or output file name is specified, stdin and stdout will be used.\n",
};

// Applies one option letter; false for a letter that ends the parse.
bool applyLetter(char letter, ConverterOptions& options) {
    switch (letter) {
        case 'b': options.bumpMaps = true; return true;
        case 'e': options.examineViewer = true; return true;
        case 'f': options.flatShading = true; return true;
        case 's': options.twoSided = true; return true;
        case 't': options.noTextures = true; return true;
        case 'v': options.viewOnly = true; return true;
        default: return false;
    }
}

// Applies a letter that takes a value; false for a value it cannot take.
bool applyValue(char letter, const char* value, ConverterOptions& options) {
    if (letter == 'd') {
        options.batchFolder = value;
        return !options.batchFolder.empty();
    }
    char* end = nullptr;
    errno = 0;
    const long count = std::strtol(value, &end, 10);
    if (errno != 0 || end == value || *end != '\0' || count < 1 || count > kMostWorkers) return false;
    options.workerCount = int(count);
    return true;
}

bool takesValue(char letter) { return letter == 'd' || letter == 'j'; }

// With -d every name after the options is an input; the viewer shows one model,
// so it has no place in a batch.
CommandLineVerdict decideBatch(int argc, const char* const* argv, int index, ConverterOptions& options) {
    if (options.examineViewer || options.viewOnly || index == argc) return CommandLineVerdict::Malformed;
    for (; index < argc; ++index) {
        if (argv[index][0] == '-') return CommandLineVerdict::Malformed;
        options.batchInputs.push_back(argv[index]);
    }
    return CommandLineVerdict::Ok;
}
}  // namespace

CommandLineVerdict decideCommandLine(int argc, const char* const* argv, ConverterOptions& options) {
    if (argc <= 1) return CommandLineVerdict::Malformed;

    int index = 1;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        for (const char* letter = argv[index] + 1; *letter; ++letter) {
            if (*letter == 'h') return CommandLineVerdict::Help;
            if (takesValue(*letter)) {
                // As getopt does: the value is the rest of the group, else the next argument.
                const char* value = letter[1] ? letter + 1 : index + 1 < argc ? argv[++index] : nullptr;
                if (!value || !applyValue(*letter, value, options)) return CommandLineVerdict::Malformed;
                break;
            }
            if (!applyLetter(*letter, options)) return CommandLineVerdict::Malformed;
        }
    }
    if (!options.batchFolder.empty()) return decideBatch(argc, argv, index, options);
    if (options.workerCount != 0) return CommandLineVerdict::Malformed;

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
