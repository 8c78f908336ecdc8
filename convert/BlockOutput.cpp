#include "convert/BlockOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrav {

namespace {
// Few system calls, and a block that stays in the cache; a multiple of eight,
// so that arrays of binary words fill it exactly.
const size_t kBlockSize = size_t(1) << 18;
}  // namespace

BlockOutput::BlockOutput(int descriptor)
    : block(static_cast<char*>(std::malloc(kBlockSize))), capacity(block ? kBlockSize : 0), fd(descriptor) {
    if (!block) writeError = ENOMEM;
}

BlockOutput::~BlockOutput() { std::free(block); }

bool BlockOutput::finish() {
    flush();
    if (writeError != 0) errno = writeError;
    return writeError == 0;
}

void BlockOutput::flush() {
    if (writeError == 0 && !writeAll(fd, block, used)) writeError = errno;
    flushed += used;
    used = 0;
}

void BlockOutput::appendInBlocks(const char* bytes, size_t count) {
    while (capacity != 0) {
        const size_t part = count < capacity - used ? count : capacity - used;
        std::memcpy(block + used, bytes, part);
        used += part;
        bytes += part;
        count -= part;
        if (count == 0) return;
        flush();
    }
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, next, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += written;
        size -= size_t(written);
    }
    return true;
}

}  // namespace kestrav
