// The entry points of kestrav-converter.so, which the program loads to convert.

#include <cstdlib>
#include <type_traits>

#include "cli/ConversionJob.h"
#include "cli/ConverterModule.h"
#include "cli/LineWidthQuery.h"
#include "cli/SingleRun.h"
#include "convert/Conversion.h"

using namespace kestrav;

namespace {
// OpenGL's line widths are the host's to tell, asked only when a model has a
// wire material; the query lives here, with the libraries it needs.
template <typename Settings>
Settings askingLineWidths(Settings options) {
    options.lineWidths = queryLineWidthRange;
    return options;
}
}  // namespace

// Ends the program. The scene is not freed first: for a big one that took a
// fifth of the whole run, and the process's end returns its memory at once.
extern "C" __attribute__((visibility("default"))) int kestrav_convert_one(const ConverterOptions& options) {
    Conversion kept;
    std::exit(convertSingle(askingLineWidths(options), kept));
}

extern "C" __attribute__((visibility("default"))) void kestrav_make_batch_job(const Options& options, BatchJob& job) {
    job = conversionJob(askingLineWidths(options));
}

// Both entry points keep the types the program calls them by.
static_assert(std::is_same_v<decltype(&kestrav_convert_one), ConvertOne>);
static_assert(std::is_same_v<decltype(&kestrav_make_batch_job), MakeBatchJob>);
