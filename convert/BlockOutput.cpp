#include "convert/BlockOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kestrav {

// A block is written as it is: there is no work between filling and writing.
BlockOutput::BlockOutput(int descriptor, size_t threads)
    : capacity(kBlockBytes),
      writeBehind(descriptor),
      pipeline(std::min<size_t>(threads, 2), kBlockBytes, 0, [](BlockPipeline::Block&) {},
               [this](const BlockPipeline::Block& full) { writeBehind.write(full.input.get(), full.inputUsed); }, kBlocksBeforeWriter) {
    block = pipeline.current().input.get();
}

bool BlockOutput::finish() {
    pipeline.current().inputUsed = used;
    flushed += used;
    used = 0;
    pipeline.finish();
    if (writeBehind.error() != 0) errno = writeBehind.error();
    return writeBehind.error() == 0;
}

void BlockOutput::flush() {
    pipeline.current().inputUsed = used;
    flushed += used;
    used = 0;
    pipeline.handOn();
    block = pipeline.current().input.get();
}

void BlockOutput::appendInBlocks(const char* bytes, size_t count) {
    for (;;) {
        const size_t part = std::min(count, capacity - used);
        std::memcpy(block + used, bytes, part);
        used += part;
        bytes += part;
        count -= part;
        if (count == 0) return;
        flush();
    }
}

}  // namespace kestrav
