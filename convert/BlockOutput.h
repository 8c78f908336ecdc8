#pragma once

#include <Inventor/SoOutput.h>

#include <cstddef>
#include <cstdint>

namespace kestrav {

// The base of the binary scene output: an SoOutput that collects what Coin's
// write action gives it in one large block and writes each full block to a
// descriptor, so a scene of hundreds of megabytes costs few system calls and
// no copy of itself.
class BlockOutput : public SoOutput {
public:
    ~BlockOutput() override;
    BlockOutput(const BlockOutput&) = delete;
    BlockOutput& operator=(const BlockOutput&) = delete;

    // Writes out what is still held. False, with errno set, when any write to
    // the descriptor failed (or the block could not be allocated): the scene
    // there is then incomplete.
    bool finish();

protected:
    explicit BlockOutput(int fd);

    // After a failed write the scene is still formatted, so Coin's traversal
    // runs to its end, but nothing more is written.
    void flush();
    // Copies count bytes, writing out each block as it fills.
    void appendInBlocks(const char* bytes, size_t count);
    // Bytes given so far, those written out included.
    uint64_t written() const { return flushed + used; }

    char* const block;
    const size_t capacity;  // 0 when the block could not be allocated
    size_t used = 0;

private:
    const int fd;
    uint64_t flushed = 0;
    int writeError = 0;
};

// Writes all of data to fd, going on after partial writes and interruptions.
// False, with errno set, when a write fails.
bool writeAll(int fd, const void* data, size_t size);

}  // namespace kestrav
