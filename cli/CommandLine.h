#pragma once

#include "cli/ConverterOptions.h"

void printUsage();
// Fills options from argv[1..]. Prints the usage text and ends the process for
// -h (status 0) and for a malformed command line (status 2).
void parseCommandLine(int argc, char** argv, ConverterOptions& options);
