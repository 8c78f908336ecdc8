#include "convert/SceneWriter.h"

#include <Inventor/nodes/SoNode.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>

#include "convert/BinarySceneOutput.h"
#include "convert/BinaryWriteAction.h"
#include "convert/DirectSceneOutput.h"
#include "convert/SceneOutput.h"
#include "convert/SceneWriteAction.h"

namespace kestrav {

namespace {

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

bool writeInPlace(const std::string& path, const TextWriter& writeText, std::string& failure) {
    const int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        failure = failureLine(quoted(path));
        return false;
    }
    const bool written = writeText(fd);
    if (!written) failure = failureLine(quoted(path));
    if (close(fd) != 0 && written) {
        failure = failureLine(quoted(path));
        return false;
    }
    return written;
}

// Makes a new file named like kTemporarySceneName in folder, as mkostemp does,
// but with mode 0666 for open to narrow: a new scene gets the permissions the
// umask and the folder's default ACL give a new file, and the process's umask
// is never changed to learn them (another thread may be making files).
int createTemporary(const std::string& folder, std::string& temporary) {
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const std::string pattern = kTemporarySceneName;
    const size_t first = pattern.find('X');
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned char noise[sizeof kTemporarySceneName];
        if (getrandom(noise, sizeof noise, 0) != ssize_t(sizeof noise)) return -1;
        temporary = folder + "/" + pattern;
        for (size_t i = first; i < pattern.size(); ++i)
            temporary[folder.size() + 1 + i] = kLetters[noise[i] % (sizeof kLetters - 1)];
        const int fd = open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// Writes beside the target and renames over it only after everything reached
// the disk, so a failed run never leaves a truncated file where the old one was.
// A file replaced keeps its mode; a new one gets the mode it was made with.
bool replaceFile(const std::string& path, const std::string& shownName, std::optional<mode_t> keptMode,
                 const TextWriter& writeText, std::string& failure, TemporaryWatch watch) {
    std::string temporary;
    if (watch) watch(nullptr);
    const int fd = createTemporary(directoryOf(path), temporary);
    if (fd < 0) {
        failure = failureLine(quoted(shownName));
        return false;
    }
    if (watch) watch(temporary.c_str());
    auto discard = [&] {
        unlink(temporary.c_str());
        if (watch) watch(nullptr);
    };
    bool complete = false;
    try {
        complete = writeText(fd) && (!keptMode || fchmod(fd, *keptMode) == 0) && fsync(fd) == 0;
    } catch (...) {
        close(fd);
        discard();
        throw;
    }
    const int savedErrno = errno;
    const bool closed = close(fd) == 0;
    if (complete && closed && rename(temporary.c_str(), path.c_str()) == 0) {
        if (watch) watch(nullptr);
        return true;
    }
    if (!complete) errno = savedErrno;
    failure = failureLine(quoted(shownName));
    discard();
    return false;
}

}  // namespace

bool writeSceneText(const std::string& outputPath, const TextWriter& writeText, std::string& failure,
                    TemporaryWatch watch) {
    if (outputPath.empty()) {
        if (writeText(STDOUT_FILENO)) return true;
        failure = failureLine("standard output");
        return false;
    }

    struct stat status;
    if (stat(outputPath.c_str(), &status) != 0)
        return replaceFile(outputPath, outputPath, std::nullopt, writeText, failure, watch);
    if (!S_ISREG(status.st_mode) || namesOpenDescriptor(outputPath))
        return writeInPlace(outputPath, writeText, failure);

    // Replace the file a symbolic link points at, not the link itself.
    char resolved[PATH_MAX];
    if (!realpath(outputPath.c_str(), resolved)) {
        failure = failureLine(quoted(outputPath));
        return false;
    }
    return replaceFile(resolved, outputPath, status.st_mode & 07777, writeText, failure, watch);
}

// The text goes to its target while Coin's write action runs, so every failure
// of the real write is seen with its errno, and no copy of it is kept.
bool writeScene(SoNode* root, const std::string& outputPath, std::string& failure, SceneFormat format,
                TemporaryWatch watch, size_t threads, const PartFiller& fillPart) {
    return writeSceneText(
        outputPath,
        [&](int fd) {
            if (format == SceneFormat::Binary) {
                BinarySceneOutput output(fd, threads);
                BinaryWriteAction action(&output, fillPart);
                action.apply(root);
                action.rethrowFailure();
                return output.finish();
            }
            if (threads <= 1) {
                DirectSceneOutput output(fd);
                SceneWriteAction action(&output, fillPart);
                action.apply(root);
                action.rethrowFailure();
                return output.finish();
            }
            SceneOutput output(fd, threads);
            SceneWriteAction action(&output, fillPart);
            action.apply(root);
            action.rethrowFailure();
            return output.finish();
        },
        failure, watch);
}

std::string sameFileLine(const std::string& input, const std::string& output) {
    return "the output " + quoted(output.empty() ? "/dev/stdout" : output) + " is the input file " + quoted(input) +
           "; nothing was written";
}

// Standard output opened on the model (1<>model, >>model) would write over it
// or onto its end as surely as naming it.
bool isSameFile(const std::string& input, const std::string& output) {
    struct stat a, b;
    if (stat(input.c_str(), &a) != 0) return false;
    if (output.empty() ? fstat(STDOUT_FILENO, &b) != 0 : stat(output.c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace kestrav
