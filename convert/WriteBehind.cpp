#include "convert/WriteBehind.h"

#include <fcntl.h>

#include <cerrno>

#include "convert/WriteAll.h"

namespace kestrav {

namespace {
// Large enough that the requests cost nothing beside the writes, small enough
// that the disk starts early.
const size_t kWriteBehindBytes = size_t(8) << 20;
}  // namespace

void WriteBehind::write(const void* data, size_t size) {
    if (failure != 0) return;
    if (!writeAll(fd, data, size)) {
        failure = errno;
        return;
    }
    pending += size;
    if (pending < kWriteBehindBytes) return;
    pending = 0;
    // The whole file: pages already on their way are passed over, and the
    // call does not wait for the disk.
    sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

}  // namespace kestrav
