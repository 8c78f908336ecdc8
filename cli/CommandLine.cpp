// placeholder until implemented
#include "cli/CommandLine.h"
void printUsage() {}
void parseCommandLine(int argc, char** argv, ConverterOptions& o) { if (argc > 1) o.inputPath = argv[1]; }
