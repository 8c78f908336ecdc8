#pragma once

#include "cli/BatchRun.h"

namespace kestrav {

// The program's job: converts as a single run does, and removes the scene it
// was writing when SIGINT, SIGTERM or SIGHUP ends it.
BatchJob conversionJob(const Options& options);

}  // namespace kestrav
