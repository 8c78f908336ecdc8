// kestrav's batch with a worker that crashes: the batch of the real program,
// whose workers convert as kestrav's do, except that one handed a model named
// crash.3ds aborts. It shows what a crashing worker costs.

#include <sys/resource.h>

#include <cstdlib>

#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "cli/ConversionJob.h"

using namespace kestrav;

int main(int argc, char** argv) {
    ConverterOptions options;
    options.programPath = argv[0];
    parseCommandLine(argc, argv, options);
    const BatchJob convert = conversionJob(options);
    const BatchJob crashing = [&convert](const std::string& input, const std::string& output, ImageTurn* imageTurn,
                                         const TextureArchive* archive, unsigned threads) {
        const size_t slash = input.rfind('/');
        if (input.substr(slash == std::string::npos ? 0 : slash + 1) == "crash.3ds") {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            std::abort();
        }
        return convert(input, output, imageTurn, archive, threads);
    };
    return runBatch(options, [&crashing](std::string&) { return crashing; });
}
