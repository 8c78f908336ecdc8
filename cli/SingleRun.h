#pragma once

#include "cli/ConverterOptions.h"

namespace kestrav {

class Conversion;

// One model converted as the program does without -d: the scene written (to
// the output path, or standard output), shown with -e or -v, the lines
// printed to standard error. Returns the exit status; running out of memory
// is a line and status 1, with the old output kept. The conversion written
// or shown is left in kept, for the caller to free or not.
int convertSingle(const ConverterOptions& options, Conversion& kept);

}  // namespace kestrav
