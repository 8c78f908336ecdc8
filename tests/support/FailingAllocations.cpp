#include "tests/support/FailingAllocations.h"

#include <cstdlib>

#include "reader/ModelMemory.h"

namespace kestrav {

namespace {

// Allocations that may still succeed; negative: all of them.
thread_local long allocationsLeft = -1;

}  // namespace

FailingAllocations::FailingAllocations(long count) { allocationsLeft = count < 0 ? -1 : count; }

FailingAllocations::~FailingAllocations() { allocationsLeft = -1; }

void* reallocateModelMemory(void* block, std::size_t bytes) {
    if (allocationsLeft == 0) return nullptr;
    if (allocationsLeft > 0) --allocationsLeft;
    return std::realloc(block, bytes);
}

}  // namespace kestrav
