#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <string>

#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "cli/ConverterModule.h"
#include "cli/ConverterOptions.h"

using namespace kestrav;

namespace {
const char* const kTextureSearchPathVariable = "KESTRAV_TEXTURE_PATH";
const char* const kNoConverterMessage = "The converter could not be loaded: ";
}  // namespace

int main(int argc, char** argv) {
    ConverterOptions options;
    options.programPath = argv[0];
    parseCommandLine(argc, argv, options);
    // Where else the library looks for images.
    if (const char* searchPath = std::getenv(kTextureSearchPathVariable)) options.textureSearchPath = searchPath;
    if (!options.batchFolder.empty())
        return runBatch(options, [&options](std::string& failure) {
            BatchJob job;
            if (const MakeBatchJob makeJob = loadBatchConversion(failure))
                makeJob(options, job);
            else
                failure = kNoConverterMessage + failure;
            return job;
        });
    // A closed standard output is a failed write, never a death by signal.
    signal(SIGPIPE, SIG_IGN);
    std::string failure;
    const ConvertOne convertOne = loadSingleConversion(failure);
    if (!convertOne) {
        std::cerr << (kNoConverterMessage + failure + ".\n");
        return 1;
    }
    return convertOne(options);
}
