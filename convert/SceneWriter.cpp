#include "convert/SceneWriter.h"

#include <Inventor/SoOutput.h>
#include <Inventor/actions/SoWriteAction.h>
#include <Inventor/nodes/SoNode.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// The scene is rendered to memory first, so every failure of the real write is
// seen with its errno, and a target is touched only when there is text for it.
struct SceneText {
    void* data = nullptr;
    size_t size = 0;
    ~SceneText() { std::free(data); }
};

void renderScene(SoNode* root, SceneText& text) {
    const size_t initialSize = 64 * 1024;
    SoOutput output;
    output.setBuffer(std::malloc(initialSize), initialSize, std::realloc);
    output.setBinary(FALSE);
    SoWriteAction action(&output);
    action.apply(root);
    output.getBuffer(text.data, text.size);
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, next, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        next += written;
        size -= size_t(written);
    }
    return true;
}

std::string failureLine(const std::string& target) {
    return "Cannot write the scene to " + target + ": " + std::strerror(errno);
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// True when resolving the path passes through /proc, as /dev/stdout and
// /dev/fd/N do: such a name stands for a descriptor someone already opened, so
// it is written in place rather than replaced.
bool namesOpenDescriptor(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        char resolvedDirectory[PATH_MAX];
        if (!realpath(directoryOf(path).c_str(), resolvedDirectory)) return false;
        if (std::strncmp(resolvedDirectory, "/proc/", 6) == 0) return true;
        char target[PATH_MAX];
        const ssize_t length = readlink(path.c_str(), target, sizeof target - 1);
        if (length < 0) return false;
        target[length] = '\0';
        path = target[0] == '/' ? std::string(target) : directoryOf(path) + "/" + target;
    }
    return false;
}

bool writeInPlace(const std::string& path, const SceneText& text, std::string& failure) {
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        failure = failureLine(quoted(path));
        return false;
    }
    const bool written = writeAll(fd, text.data, text.size);
    if (!written) failure = failureLine(quoted(path));
    if (close(fd) != 0 && written) {
        failure = failureLine(quoted(path));
        return false;
    }
    return written;
}

// Writes beside the target and renames over it only after everything reached
// the disk, so a failed run never leaves a truncated file where the old one was.
bool replaceFile(const std::string& path, const std::string& shownName, mode_t mode, const SceneText& text,
                 std::string& failure) {
    std::string temporary = directoryOf(path) + "/.kestrav-XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) {
        failure = failureLine(quoted(shownName));
        return false;
    }
    const bool complete = writeAll(fd, text.data, text.size) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    const int savedErrno = errno;
    const bool closed = close(fd) == 0;
    if (complete && closed && rename(temporary.c_str(), path.c_str()) == 0) return true;
    if (!complete) errno = savedErrno;
    failure = failureLine(quoted(shownName));
    unlink(temporary.c_str());
    return false;
}

mode_t newFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool writeScene(SoNode* root, const std::string& outputPath, std::string& failure) {
    SceneText text;
    renderScene(root, text);

    if (outputPath.empty()) {
        if (writeAll(STDOUT_FILENO, text.data, text.size)) return true;
        failure = failureLine("standard output");
        return false;
    }

    struct stat status;
    if (stat(outputPath.c_str(), &status) != 0)
        return replaceFile(outputPath, outputPath, newFileMode(), text, failure);
    if (!S_ISREG(status.st_mode) || namesOpenDescriptor(outputPath))
        return writeInPlace(outputPath, text, failure);

    // Replace the file a symbolic link points at, not the link itself.
    char resolved[PATH_MAX];
    if (!realpath(outputPath.c_str(), resolved)) {
        failure = failureLine(quoted(outputPath));
        return false;
    }
    return replaceFile(resolved, outputPath, status.st_mode & 07777, text, failure);
}
