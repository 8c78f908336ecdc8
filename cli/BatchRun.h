#pragma once

#include "cli/ConverterOptions.h"

namespace kestrav {

// Converts every input of a batch (-d) in worker processes, writes each file's
// lines, the progress and the summary to standard error, and returns the exit
// status: 0 when every file was converted, 1 when any failed, 2 when two
// inputs would write the same scene (then nothing is converted).
int runBatch(const ConverterOptions& options);

}  // namespace kestrav
