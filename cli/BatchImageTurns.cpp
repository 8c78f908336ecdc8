#include "cli/BatchImageTurns.h"

#include <sys/mman.h>
#include <time.h>

namespace kestrav {

// Shared between processes, the flags must not hide a lock in one of them.
static_assert(std::atomic<uint8_t>::is_always_lock_free);

BatchImageTurns::BatchImageTurns(size_t fileCount) : count(fileCount) {
    void* memory = mmap(nullptr, count == 0 ? 1 : count, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return;
    // Fresh anonymous memory is zero: nothing is through.
    through = static_cast<std::atomic<uint8_t>*>(memory);
}

BatchImageTurns::~BatchImageTurns() {
    if (through) munmap(through, count == 0 ? 1 : count);
}

void BatchImageTurns::finish(size_t index) {
    if (through && index < count) through[index].store(1, std::memory_order_release);
}

void BatchImageTurns::take() {
    if (!through) return;
    // Earlier files are all handed out and being converted, so each comes through.
    const timespec pause{0, 1000000};
    while (firstNotThrough < current) {
        if (through[firstNotThrough].load(std::memory_order_acquire))
            ++firstNotThrough;
        else
            nanosleep(&pause, nullptr);
    }
}

}  // namespace kestrav
