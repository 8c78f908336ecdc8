#pragma once

#include <cstddef>

namespace kestrav {

// The processors this process may run on (its affinity mask), at least one.
size_t processorCount();

// The threads a conversion asked for requested threads may use: requested,
// or every processor when it is 0.
size_t threadsFor(unsigned requested);

}  // namespace kestrav
