#pragma once

#include <string>

#include "cli/BatchRun.h"
#include "cli/ConverterOptions.h"

namespace kestrav {

// Everything that converts lives in a module of its own, kestrav-converter.so,
// with Coin and the libraries Coin needs: a run that converts nothing
// (--version, --help, a -u batch whose scenes are all up to date) never
// loads them, and starts in a millisecond. The batch loads it once, before
// its workers start, so they share it.
//
// The module's two entry points: a single conversion, as the program runs it
// (lines printed, then the program ends with its exit status), and the job of
// a batch's workers.
using ConvertOne = int (*)(const ConverterOptions& options);
using MakeBatchJob = void (*)(const Options& options, BatchJob& job);
inline constexpr const char* kConvertOneSymbol = "kestrav_convert_one";
inline constexpr const char* kMakeBatchJobSymbol = "kestrav_make_batch_job";

// Null, with why not in failure, when the module cannot be loaded.
ConvertOne loadSingleConversion(std::string& failure);
MakeBatchJob loadBatchConversion(std::string& failure);

}  // namespace kestrav
