#pragma once

#include <cstddef>

namespace kestrav {

// Asks the system to start writing a file's new bytes to the disk every few
// megabytes, while the rest is still being made, so that the sync before the
// scene replaces its target finds little left to write. Only a request: where
// the descriptor is not a file on a disk, nothing happens.
class WriteBehind {
public:
    explicit WriteBehind(int descriptor) : fd(descriptor) {}
    // count bytes more were written to the descriptor.
    void wrote(size_t count);

private:
    const int fd;
    size_t pending = 0;
};

}  // namespace kestrav
