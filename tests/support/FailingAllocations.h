#pragma once

// Linked into the tests in place of the library's reader/ModelMemory.cpp, so a
// test can make the model allocations of its own thread fail.

namespace kestrav {

// While it lives, the allocation after the next `count` fails, and so does
// every later one.
class FailingAllocations {
public:
    explicit FailingAllocations(long count);
    ~FailingAllocations();
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

}  // namespace kestrav
