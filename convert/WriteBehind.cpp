#include "convert/WriteBehind.h"

#include <fcntl.h>

namespace kestrav {

namespace {
// Large enough that the requests cost nothing beside the writes, small enough
// that the disk starts early.
const size_t kWriteBehindBytes = size_t(8) << 20;
}  // namespace

// The whole file: pages already on their way are passed over, and the call
// does not wait for the disk.
void WriteBehind::wrote(size_t count) {
    pending += count;
    if (pending < kWriteBehindBytes) return;
    pending = 0;
    sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

}  // namespace kestrav
