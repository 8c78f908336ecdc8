#include "reader/ModelFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "reader/ChunkWalk.h"

namespace kestrav {

namespace {
ModelFile failed(int error) {
    ModelFile file;
    file.error = error;
    return file;
}

ModelFile readOpen(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) return failed(errno);
    // open opens a folder, and reading it fails only later.
    if (S_ISDIR(status.st_mode)) return failed(EISDIR);
    // The size comes first, so a pipe cannot be read.
    const off_t size = lseek(fd, 0, SEEK_END);
    if (size < 0 || lseek(fd, 0, SEEK_SET) != 0) return failed(errno);
    ModelFile file;
    if (size == 0) {
        file.kind = ModelFileKind::Empty;
        return file;
    }
    file.bytes.reset(new (std::nothrow) uint8_t[size_t(size)]);
    if (!file.bytes) {
        file.kind = ModelFileKind::OutOfMemory;
        return file;
    }
    size_t got = 0;
    while (got < size_t(size)) {
        const ssize_t n = read(fd, file.bytes.get() + got, size_t(size) - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return failed(errno);
        // A file cut short since its size was taken reads as cut short.
        if (n == 0) break;
        got += size_t(n);
    }
    file.size = got;
    file.kind = kindOfModel(file.bytes.get(), got);
    return file;
}
}  // namespace

ModelFile readModelFile(const std::string& path) {
    // Non-blocking, so a FIFO with no writer is refused rather than waited on.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    ModelFile file = readOpen(fd);
    close(fd);
    return file;
}

ModelFileKind kindOfModel(const uint8_t* bytes, size_t size) {
    if (size == 0) return ModelFileKind::Empty;
    const bool known = size >= 2 && isKnownChunkId(uint16_t(bytes[0] | bytes[1] << 8));
    return known ? ModelFileKind::Model : ModelFileKind::NotAModel;
}

}  // namespace kestrav
