#pragma once

#include <string>

#include "cli/ConverterOptions.h"

namespace kestrav {

// What a command line asks for: a run, the help text, the version, or nothing
// sensible.
enum class CommandLineVerdict { Ok, Help, Version, Malformed };

// Why a line is malformed, with the argument at fault where there is one.
struct CommandLineFault {
    enum Kind {
        NoFault,
        UnknownOption,
        OptionAfterFileName,
        NoInputFile,
        TooManyFileNames,
        MissingValue,         // -d without a folder, -j without a number of threads, an empty file name
        ViewerInBatch,        // -e or -v with -d
        LoneDash,             // - where a file name or option goes: kestrav reads and writes named files
        RepeatedFolder,       // -d twice: a batch has one output folder
        BatchOnly,            // -r, -u, --files-from or --report without -d
    } kind = NoFault;
    std::string argument;
};

// Fills options from argv[1..] and says whether the line is usable; for a
// malformed line, fault (when given) says why. Prints nothing; flags set
// before a stopping letter may be left in options.
CommandLineVerdict decideCommandLine(int argc, const char* const* argv, ConverterOptions& options,
                                     CommandLineFault* fault = nullptr);

// The one line that tells the user what is wrong with the command line.
std::string faultLine(const CommandLineFault& fault);
std::string usageText();
// Fills options from argv[1..]. Ends the process after printing the usage text
// on standard output for -h and --help (status 0), the version for --version
// (status 0), and what is wrong and the usage text on standard error for a
// malformed command line (status 2).
void parseCommandLine(int argc, char** argv, ConverterOptions& options);

}  // namespace kestrav
