#include "cli/CommandLine.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace kestrav {

namespace {
const int kMalformedStatus = 2;
const long kMostWorkers = 1024;

const char* const kUsageLines[] = {
    "Usage: kestrav [options] infile [outfile]\n",
    "       kestrav [options] -d outdir infile...\n",
    "       kestrav [options] -r -d outdir folder|infile...\n",
    "   -d dir  : Convert every infile to dir/<its name>.iv, creating dir if missing\n",
    "   -r      : With -d, convert every .3ds below each folder to dir/<its path>.iv\n",
    "             and look for images anywhere in the folders given\n",
    "   -u      : With -d, skip a model whose scene is as new as it or newer\n",
    "   -e      : Use Examine viewer to show the model and create outfile\n",
    "   -f      : Compute normals using flat shading\n",
    "   -h      : Print this message (help), as --help does\n",
    "   -j n    : Use n threads (default: one per processor); with -d, shared between\n",
    "             files at a time and threads within each, never more than n in all\n",
    "   -s      : Force two sided materials\n",
    "   -b      : Turn on bump map support\n",
    "   -a      : Keep the keyframer animation as engines\n",
    "   -t      : Do not apply textures\n",
    "   -B      : Write the scene in Open Inventor binary form\n",
    "   -l      : Add the file's cameras and lights\n",
    "   -p      : Write the scene's images beside it (JPEG and SGI RGB as they are, others as SGI RGB)\n",
    "   -v      : Do not create outfile, only use Examine viewer to show the model\n",
    "   --files-from f : With -d, also convert the files listed in f (- for stdin)\n",
    "   --report f : With -d, write a JSON line per model to f (- for stdout)\n",
    "   --version : Print the version of kestrav\n",
    "   --      : End the options: what follows are file names, even if they start with -\n",
    "An input file is always needed; if no output file name is specified, stdout will be used.\n",
    "Viewer keys: q or Ctrl+Q closes the window, Home returns to the first view;\n",
    "   with -a, space pauses and plays on, , and . step one frame back and on\n",
    "   while paused, 0 goes to the first frame.\n",
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
        case 'p': options.portable = true; return true;
        case 'r': options.recursive = true; return true;
        case 'u': options.onlyNewer = true; return true;
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

// What a dash among the file names is: an option too late, or a lone -.
CommandLineVerdict optionAfterFileName(CommandLineFault* fault, const char* argument) {
    if (argument[1] == '\0') return malformed(fault, CommandLineFault::LoneDash);
    return malformed(fault, CommandLineFault::OptionAfterFileName, argument);
}

// The long options that take a file name.
struct LongOption {
    const char* name;
    std::string ConverterOptions::*field;
};
const LongOption kLongOptions[] = {
    {"--files-from", &ConverterOptions::filesFrom},
    {"--report", &ConverterOptions::reportPath},
};

bool takesValue(char letter) { return letter == 'd' || letter == 'j'; }

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
    options.threads = unsigned(count);
    return true;
}

// One argument of options: a long option, or a group of letters after one
// dash. A letter that takes a value takes the rest of its group or, as getopt
// does, the next argument (index then moves past it).
CommandLineVerdict applyOptionArgument(int argc, const char* const* argv, int& index, ConverterOptions& options,
                                       CommandLineFault* fault) {
    const char* argument = argv[index];
    if (argument[1] == '-') {
        if (std::strcmp(argument, "--help") == 0) return CommandLineVerdict::Help;
        if (std::strcmp(argument, "--version") == 0) return CommandLineVerdict::Version;
        for (const LongOption& option : kLongOptions) {
            const size_t length = std::strlen(option.name);
            if (std::strncmp(argument, option.name, length) != 0) continue;
            const char end = argument[length];
            if (end != '=' && end != '\0') continue;
            // --name=value or --name value, as getopt_long takes them.
            const char* value = end == '=' ? argument + length + 1 : index + 1 < argc ? argv[++index] : nullptr;
            if (!value || !*value) return malformed(fault, CommandLineFault::MissingValue, option.name);
            options.*option.field = value;
            return CommandLineVerdict::Ok;
        }
        return malformed(fault, CommandLineFault::UnknownOption, argument);
    }
    if (argument[1] == '\0') return malformed(fault, CommandLineFault::LoneDash);
    for (const char* letter = argument + 1; *letter; ++letter) {
        if (*letter == 'h') return CommandLineVerdict::Help;
        // A second folder would silently win over the first.
        if (*letter == 'd' && !options.batchFolder.empty()) return malformed(fault, CommandLineFault::RepeatedFolder);
        if (takesValue(*letter)) {
            const char* value = letter[1] ? letter + 1 : index + 1 < argc ? argv[++index] : nullptr;
            if (!value || !applyValue(*letter, value, options))
                return malformed(fault, CommandLineFault::MissingValue, std::string("-") + *letter);
            break;
        }
        if (!applyLetter(*letter, options))
            return malformed(fault, CommandLineFault::UnknownOption, std::string("-") + *letter);
    }
    return CommandLineVerdict::Ok;
}

// With -d every name after the options is an input; the viewer shows one
// model, so it has no place in a batch.
CommandLineVerdict decideBatch(int argc, const char* const* argv, int index, bool optionsEnded,
                               ConverterOptions& options, CommandLineFault* fault) {
    if (options.examineViewer || options.viewOnly) return malformed(fault, CommandLineFault::ViewerInBatch);
    if (index == argc && options.filesFrom.empty()) return malformed(fault, CommandLineFault::NoInputFile);
    for (; index < argc; ++index) {
        if (!optionsEnded && argv[index][0] == '-') return optionAfterFileName(fault, argv[index]);
        options.batchInputs.push_back(argv[index]);
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
        const CommandLineVerdict verdict = applyOptionArgument(argc, argv, index, options, fault);
        if (verdict != CommandLineVerdict::Ok) return verdict;
    }
    if (!options.batchFolder.empty()) return decideBatch(argc, argv, index, optionsEnded, options, fault);
    if (options.recursive || options.onlyNewer || !options.filesFrom.empty() || !options.reportPath.empty())
        return malformed(fault, CommandLineFault::BatchOnly);

    // Options come only before the file names, unless -- said that what
    // follows are all file names.
    for (int name = index + 1; !optionsEnded && name < argc; ++name)
        if (argv[name][0] == '-') return optionAfterFileName(fault, argv[name]);
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
    case CommandLineFault::MissingValue:
        return "kestrav: option " + fault.argument +
               (fault.argument == "-d"   ? " needs a folder"
                : fault.argument == "-j" ? " needs a number of threads from 1 to 1024"
                                         : " needs a file name");
    case CommandLineFault::ViewerInBatch: return "kestrav: -e and -v show one model and cannot go with -d";
    case CommandLineFault::LoneDash:
        return "kestrav: - is not a file name here; name the input file, and leave outfile out for standard output";
    case CommandLineFault::RepeatedFolder: return "kestrav: -d given twice; a batch has one output folder";
    case CommandLineFault::BatchOnly: return "kestrav: -r, -u, --files-from and --report go only with -d";
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
