#pragma once

#include "cli/ConverterOptions.h"

namespace kestrav {

// What a command line asks for: a run, the help text, or nothing sensible.
enum class CommandLineVerdict { Ok, Help, Malformed };

// Fills options from argv[1..] and says whether the line is usable. Prints
// nothing; flags set before a stopping letter may be left in options.
CommandLineVerdict decideCommandLine(int argc, const char* const* argv, ConverterOptions& options);

void printUsage();
// Fills options from argv[1..]. Prints the usage text and ends the process for
// -h (status 0) and for a malformed command line (status 2).
void parseCommandLine(int argc, char** argv, ConverterOptions& options);

}  // namespace kestrav
