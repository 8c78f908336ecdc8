#include "cli/CommandLine.h"

#include <cstdlib>
#include <cstring>
#include <iostream>

namespace kestrav {

namespace {
const int kMalformedStatus = 2;

const char* const kUsageLines[] = {
    "Usage: kestrav [options] infile [outfile]\n",
    "   -e      : Use Examine viewer to show the model and create outfile\n",
    "   -f      : Compute normals using flat shading\n",
    "   -h      : Print this message (help), as --help does\n",
    "   -s      : Force two sided materials\n",
    "   -b      : Turn on bump map support\n",
    "   -a      : Keep the keyframer animation as engines\n",
    "   -t      : Do not apply textures\n",
    "   -B      : Write the scene in Open Inventor binary form\n",
    "   -l      : Add the file's cameras and lights\n",
    "   -v      : Do not create outfile, only use Examine viewer to show the model\n",
    "   --version : Print the version of kestrav\n",
    "   --      : End the options: what follows are file names, even if they start with -\n",
    "An input file is always needed; if no output file name is specified, stdout will be used.\n",
};

// Applies one option letter; false for a letter that ends the parse.
bool applyLetter(char letter, ConverterOptions& options) {
    switch (letter) {
        case 'a': options.animation = true; return true;
        case 'b': options.bumpMaps = true; return true;
        case 'B': options.binary = true; return true;
        case 'e': options.examineViewer = true; return true;
        case 'f': options.flatShading = true; return true;
        case 'l': options.lights = true; return true;
        case 's': options.twoSided = true; return true;
        case 't': options.noTextures = true; return true;
        case 'v': options.viewOnly = true; return true;
        default: return false;
    }
}

CommandLineVerdict malformed(CommandLineFault* fault, CommandLineFault::Kind kind, const std::string& argument = "") {
    if (fault) *fault = CommandLineFault{kind, argument};
    return CommandLineVerdict::Malformed;
}

// One argument of options: a long option, or a group of letters after one dash.
CommandLineVerdict applyOptionArgument(const char* argument, ConverterOptions& options, CommandLineFault* fault) {
    if (argument[1] == '-') {
        if (std::strcmp(argument, "--help") == 0) return CommandLineVerdict::Help;
        if (std::strcmp(argument, "--version") == 0) return CommandLineVerdict::Version;
        return malformed(fault, CommandLineFault::UnknownOption, argument);
    }
    for (const char* letter = argument + 1; *letter; ++letter) {
        if (*letter == 'h') return CommandLineVerdict::Help;
        if (!applyLetter(*letter, options))
            return malformed(fault, CommandLineFault::UnknownOption, std::string("-") + *letter);
    }
    return CommandLineVerdict::Ok;
}
}  // namespace

CommandLineVerdict decideCommandLine(int argc, const char* const* argv, ConverterOptions& options,
                                     CommandLineFault* fault) {
    int index = 1;
    bool optionsEnded = false;
    for (; index < argc && argv[index][0] == '-'; ++index) {
        if (std::strcmp(argv[index], "--") == 0) {
            optionsEnded = true;
            ++index;
            break;
        }
        const CommandLineVerdict verdict = applyOptionArgument(argv[index], options, fault);
        if (verdict != CommandLineVerdict::Ok) return verdict;
    }

    // Options come only before the file names, unless -- said that what
    // follows are all file names.
    for (int name = index + 1; !optionsEnded && name < argc; ++name)
        if (argv[name][0] == '-') return malformed(fault, CommandLineFault::OptionAfterFileName, argv[name]);
    const int rest = argc - index;
    if (rest == 0) return malformed(fault, CommandLineFault::NoInputFile);
    if (rest > 2) return malformed(fault, CommandLineFault::TooManyFileNames, argv[index + 2]);
    options.inputPath = argv[index];
    if (rest == 2)
        options.outputPath = argv[index + 1];
    else
        options.outputPath.clear();
    return CommandLineVerdict::Ok;
}

std::string faultLine(const CommandLineFault& fault) {
    switch (fault.kind) {
    case CommandLineFault::UnknownOption: return "kestrav: unknown option " + fault.argument;
    case CommandLineFault::OptionAfterFileName:
        return "kestrav: option " + fault.argument + " after a file name; options come first";
    case CommandLineFault::NoInputFile: return "kestrav: no input file";
    case CommandLineFault::TooManyFileNames:
        return "kestrav: too many file names, from " + fault.argument + " on; give an input and at most one output";
    default: return "";
    }
}

std::string usageText() {
    std::string text;
    for (const char* line : kUsageLines) text += line;
    return text;
}

// Each text in one write, so it is never interleaved with another program's.
void parseCommandLine(int argc, char** argv, ConverterOptions& options) {
    CommandLineFault fault;
    switch (decideCommandLine(argc, argv, options, &fault)) {
    case CommandLineVerdict::Ok: return;
    case CommandLineVerdict::Help: std::cout << usageText(); break;
    case CommandLineVerdict::Version: std::cout << "kestrav " KESTRAV_VERSION "\n"; break;
    case CommandLineVerdict::Malformed:
        std::cerr << (faultLine(fault) + '\n' + usageText());
        std::exit(kMalformedStatus);
    }
    std::cout.flush();
    std::exit(0);
}

}  // namespace kestrav
