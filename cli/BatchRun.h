#pragma once

#include <functional>
#include <string>

#include "appearance/ImageExport.h"
#include "cli/BatchMessage.h"
#include "cli/ConverterOptions.h"

namespace kestrav {

// What a worker does with one input of a batch and the scene path planned for
// it: the outcome and the lines to print. With -p it names and writes the
// scene's images while it holds imageTurn, which is null without -p.
using BatchJob =
    std::function<FileResult(const std::string& input, const std::string& output, ImageTurn* imageTurn)>;

// The program's job: converts as a single run does, and removes the scene it
// was writing when SIGINT, SIGTERM or SIGHUP ends it.
BatchJob conversionJob(const Options& options);

// Converts every input of a batch (-d) with job in worker processes, writes
// each file's lines, the progress and the summary to standard error, and
// returns the exit status: 0 when every file was converted, 1 when any failed,
// 2 when two inputs would write the same scene (then nothing is converted).
int runBatch(const ConverterOptions& options, const BatchJob& job);

}  // namespace kestrav
