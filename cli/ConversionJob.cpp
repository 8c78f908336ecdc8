#include "cli/ConversionJob.h"

#include <chrono>
#include <filesystem>

#include "cli/InterruptCleanup.h"
#include "cli/ProgramLines.h"
#include "convert/Conversion.h"

namespace kestrav {

BatchJob conversionJob(const Options& options) {
    return [options](const std::string& input, const std::string& output, ImageTurn* imageTurn,
                     const TextureArchive* archive, unsigned threads) {
        const auto started = std::chrono::steady_clock::now();
        Options shared = options;
        shared.threads = threads;
        Conversion conversion;
        FileResult result;
        {
            // Ctrl-C reaches every worker: each removes the scene it was writing.
            InterruptCleanup cleanup;
            // The folders of a mirrored tree are made as they are needed.
            std::error_code ignored;
            std::filesystem::create_directories(std::filesystem::path(output).parent_path(), ignored);
            conversion = convertToFileWatched(input, output, shared, InterruptCleanup::watchTemporary, imageTurn,
                                              archive, &result.figures, SceneUse::WrittenOnly);
        }
        result.built = conversion.root() != nullptr;
        result.status = conversion.status;
        result.lines = programLines(conversion);
        result.microseconds = uint64_t(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count());
        return result;
    };
}

}  // namespace kestrav
