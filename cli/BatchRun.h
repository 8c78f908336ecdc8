#pragma once

#include <functional>
#include <string>

#include "appearance/ImageExport.h"
#include "cli/BatchMessage.h"
#include "cli/ConverterOptions.h"

namespace kestrav {

class TextureArchive;

// What a worker does with one input of a batch and the scene path planned for
// it: the outcome, the lines to print and the figures of the report. With -p
// it names and writes the scene's images while it holds imageTurn, which is
// null without -p; with -r it looks images up in archive too (null: none). It
// may use threads threads.
using BatchJob = std::function<FileResult(const std::string& input, const std::string& output, ImageTurn* imageTurn,
                                          const TextureArchive* archive, unsigned threads)>;

// How a batch shares threads (-j, or one per processor) between its worker
// processes and the threads of each: a worker per model up to threads, and
// what is left over as threads within each worker, never more in all.
struct ProcessorShare {
    size_t workers;
    unsigned threadsPerWorker;
};
ProcessorShare shareProcessors(size_t threads, size_t models);

// Gives the job once some model is to be converted, so a batch with nothing
// to convert never loads what converts; an empty job, with why in failure,
// when it cannot.
using BatchJobSource = std::function<BatchJob(std::string& failure)>;

// Converts every input of a batch (-d; with -r the models below the folders
// given) with the job from jobSource in worker processes, writes each file's lines, the progress
// and the summary to standard error and, with --report, a JSON line per model,
// and returns the exit status: 0 when every file was converted or up to date,
// 1 when any failed, a folder could not be listed or there is no job, 2 when two inputs would
// write the same scene, a path cannot be mirrored, or the report or the file
// list cannot be opened (then nothing is converted).
int runBatch(const ConverterOptions& options, const BatchJobSource& jobSource);

}  // namespace kestrav
