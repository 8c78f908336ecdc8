#pragma once

#include "cli/ConverterOptions.h"

namespace kestrav {

// One model converted as the program does without -d: the scene written (to
// the output path, or standard output), shown with -e or -v, the lines
// printed to standard error. Returns the exit status; running out of memory
// is a line and status 1, with the old output kept.
int convertSingle(const ConverterOptions& options);

}  // namespace kestrav
