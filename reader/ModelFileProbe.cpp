#include "reader/ModelFileProbe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "reader/ChunkWalk.h"

namespace kestrav {

namespace {
ModelFileProbe failed(int error) {
    ModelFileProbe probe;
    probe.error = error;
    return probe;
}

ModelFileProbe probeOpen(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) return failed(errno);
    // fopen opens a folder, and reading it fails only later.
    if (S_ISDIR(status.st_mode)) return failed(EISDIR);
    // The walk needs the size and seeks back and forth: a pipe cannot be read.
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0 || lseek(fd, 0, SEEK_SET) != 0) return failed(errno);
    ModelFileProbe probe;
    if (size == 0) {
        probe.kind = ModelFileKind::Empty;
        return probe;
    }
    unsigned char id[2];
    const ssize_t got = read(fd, id, sizeof id);
    if (got < 0) return failed(errno);
    const bool known = got == 2 && isKnownChunkId(uint16_t(id[0] | id[1] << 8));
    probe.kind = known ? ModelFileKind::Model : ModelFileKind::NotAModel;
    return probe;
}
}  // namespace

ModelFileProbe probeModelFile(const std::string& path) {
    // Non-blocking, so a FIFO with no writer is refused rather than waited on.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    const ModelFileProbe probe = probeOpen(fd);
    close(fd);
    return probe;
}

}  // namespace kestrav
