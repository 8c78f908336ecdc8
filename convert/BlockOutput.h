#pragma once

#include <Inventor/SoOutput.h>

#include <cstddef>
#include <cstdint>

#include "convert/BlockPipeline.h"
#include "convert/WriteBehind.h"

namespace kestrav {

// The base of the one-thread text output and the binary output: an SoOutput
// that collects what Coin's write action gives it in large blocks and writes
// each full block to a descriptor, so a scene of hundreds of megabytes costs
// few system calls and no copy of itself. Given a second thread, that thread
// writes the full blocks out in order while Coin's traversal fills the next.
class BlockOutput : public SoOutput {
public:
    BlockOutput(const BlockOutput&) = delete;
    BlockOutput& operator=(const BlockOutput&) = delete;

    // Writes out what is still held. False, with errno set, when any write to
    // the descriptor failed: the scene there is then incomplete.
    bool finish();

    // Few system calls, and a block that stays in the cache; a multiple of
    // eight, so that arrays of binary words fill it exactly.
    static const size_t kBlockBytes = size_t(1) << 18;
    // The writing thread starts once this many blocks (8 MB) are full: a
    // write of a block costs about as little as handing it to a thread, so
    // only a long scene gains from one.
    static const uint64_t kBlocksBeforeWriter = 32;

protected:
    // threads: 1, or 2 for a thread that writes (more are not used).
    BlockOutput(int fd, size_t threads);

    // Hands the full block on to be written, and takes an empty one. After a
    // failed write the scene is still formatted, so Coin's traversal runs to
    // its end, but nothing more is written.
    void flush();
    // Copies count bytes, handing on each block as it fills.
    void appendInBlocks(const char* bytes, size_t count);
    // Bytes given so far, those handed on included.
    uint64_t written() const { return flushed + used; }

    const size_t capacity;
    size_t used = 0;
    char* block = nullptr;

private:
    uint64_t flushed = 0;
    WriteBehind writeBehind;
    // Last, so that its threads end before the members they write to.
    BlockPipeline pipeline;
};

}  // namespace kestrav
