#include "convert/WriteAll.h"

#include <unistd.h>

#include <cerrno>

namespace kestrav {

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
