#pragma once

#include <string>

namespace kestrav {

// Loads one of the program's modules, from beside the program (a build tree)
// or else from where it is installed relative to the program, and returns the
// entry point named symbol. Null, with why not in failure, when it cannot be
// loaded. A module is never closed: what it starts lives until the process ends.
void* loadProgramModule(const char* moduleName, const char* symbol, std::string& failure);

}  // namespace kestrav
