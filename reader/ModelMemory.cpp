#include "reader/ModelMemory.h"

#include <cstdlib>

namespace kestrav {

void* reallocateModelMemory(void* block, std::size_t bytes) { return std::realloc(block, bytes); }

}  // namespace kestrav
