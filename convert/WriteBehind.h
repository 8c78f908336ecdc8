#pragma once

#include <cstddef>

namespace kestrav {

// Writes a scene's blocks to its file and asks the system to start writing
// the new bytes to the disk every few megabytes, while the rest is still
// being made, so that the sync before the scene replaces its target finds
// little left to write. Only a request: where the descriptor is not a file on
// a disk, nothing happens.
class WriteBehind {
public:
    explicit WriteBehind(int descriptor) : fd(descriptor) {}
    // Writes all of data, unless an earlier write failed: after a failure the
    // scene is still made to its end, but nothing more is written.
    void write(const void* data, size_t size);
    // The errno of the failed write, 0 while none has failed.
    int error() const { return failure; }

private:
    const int fd;
    size_t pending = 0;
    int failure = 0;
};

}  // namespace kestrav
