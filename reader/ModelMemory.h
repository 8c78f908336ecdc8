#pragma once

#include <cstddef>

namespace kestrav {

// Every array of a model is allocated, grown and shrunk here, as realloc does:
// null when memory runs out, and then the block is untouched. A file of its own,
// so that a test can link one that fails.
void* reallocateModelMemory(void* block, std::size_t bytes);

}  // namespace kestrav
