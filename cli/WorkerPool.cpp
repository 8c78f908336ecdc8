#include "cli/WorkerPool.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "convert/WriteAll.h"

namespace kestrav {

namespace {
bool readAll(int fd, void* data, size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t count = read(fd, bytes, size);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        bytes += count;
        size -= size_t(count);
    }
    return true;
}

void waitFor(pid_t pid, int& waitStatus) {
    while (waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
}
}  // namespace

WorkerPool::WorkerPool(size_t files, Job workerJob) : fileCount(files), job(std::move(workerJob)) {}

WorkerPool::~WorkerPool() {
    for (Worker& worker : workers) {
        if (worker.taskFd >= 0) close(worker.taskFd);
        close(worker.resultFd);
        int waitStatus = 0;
        waitFor(worker.pid, waitStatus);
    }
}

void WorkerPool::stopAndDie() {
    const int signalNumber = stopSignal();
    // A worker that was writing a scene removes it before it dies of the signal.
    for (const Worker& worker : workers) kill(worker.pid, signalNumber);
    for (Worker& worker : workers) {
        if (worker.taskFd >= 0) close(worker.taskFd);
        close(worker.resultFd);
        int waitStatus = 0;
        waitFor(worker.pid, waitStatus);
    }
    workers.clear();
    signals.dieOf(signalNumber);
}

// A worker converts the files the parent hands it, one index at a time, until
// the parent closes its end.
void WorkerPool::workerMain(int taskFd, int resultFd) const {
    signals.restore();
    signal(SIGPIPE, SIG_DFL);
    uint32_t index = 0;
    while (readAll(taskFd, &index, sizeof index) && index < fileCount) {
        FileResult result = job(index);
        result.index = index;
        const std::string message = encodeFileResult(result);
        if (!writeAll(resultFd, message.data(), message.size())) break;
    }
    // Nothing of the parent's (streams, atexit handlers) is the worker's to finish.
    _exit(0);
}

bool WorkerPool::start(std::string& failure) {
    int task[2], result[2];
    if (pipe(task) != 0) {
        failure = std::strerror(errno);
        return false;
    }
    if (pipe(result) != 0) {
        failure = std::strerror(errno);
        close(task[0]);
        close(task[1]);
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // Only the parent may hold another worker's pipes, or its death would go unseen.
        for (const Worker& other : workers) {
            if (other.taskFd >= 0) close(other.taskFd);
            close(other.resultFd);
        }
        close(task[1]);
        close(result[0]);
        workerMain(task[0], result[1]);
    }
    if (pid < 0) failure = std::strerror(errno);
    close(task[0]);
    close(result[1]);
    if (pid < 0) {
        close(task[1]);
        close(result[0]);
        return false;
    }
    Worker worker;
    worker.pid = pid;
    worker.taskFd = task[1];
    worker.resultFd = result[0];
    workers.push_back(worker);
    handOut(workers.back());
    return true;
}

void WorkerPool::handOut(Worker& worker) {
    if (next >= fileCount) {
        close(worker.taskFd);
        worker.taskFd = -1;
        return;
    }
    const uint32_t index = takeFile();
    worker.current = long(index);
    // A worker that died before reading it is seen when its results end.
    writeAll(worker.taskFd, &index, sizeof index);
}

void WorkerPool::wait(const std::function<void(const FileResult&)>& done,
                      const std::function<void(const Loss&)>& lost) {
    std::vector<pollfd> watched;
    for (const Worker& worker : workers) watched.push_back({worker.resultFd, POLLIN, 0});
    // The stop signals come through only here, so none arrives half-way
    // through handing out a file or starting a worker.
    if (ppoll(watched.data(), watched.size(), nullptr, signals.waitMask()) < 0) return;
    std::vector<size_t> ended;
    for (size_t i = 0; i < watched.size(); ++i) {
        if (watched[i].revents == 0) continue;
        if (!readResults(workers[i], done)) ended.push_back(i);
    }
    for (size_t i = ended.size(); i-- > 0;) end(ended[i], lost);
}

bool WorkerPool::readResults(Worker& worker, const std::function<void(const FileResult&)>& done) {
    char block[64 * 1024];
    const ssize_t count = read(worker.resultFd, block, sizeof block);
    if (count < 0) return errno == EINTR || errno == EAGAIN;
    if (count == 0) return false;
    worker.buffer.append(block, size_t(count));
    FileResult result;
    for (;;) {
        const MessageTake take = takeFileResult(worker.buffer, fileCount, result);
        if (take == MessageTake::Incomplete) return true;
        // A worker answers only for the file it holds; anything else means it
        // is no longer doing what it was started for.
        if (take == MessageTake::Damaged || long(result.index) != worker.current) {
            kill(worker.pid, SIGKILL);
            worker.garbled = true;
            return false;
        }
        worker.current = -1;
        done(result);
        handOut(worker);
    }
}

void WorkerPool::end(size_t position, const std::function<void(const Loss&)>& lost) {
    const Worker worker = workers[position];
    workers.erase(workers.begin() + long(position));
    close(worker.resultFd);
    if (worker.taskFd >= 0) close(worker.taskFd);
    int waitStatus = 0;
    waitFor(worker.pid, waitStatus);
    if (worker.current < 0) return;
    lost({uint32_t(worker.current), waitStatus, worker.garbled});
}

}  // namespace kestrav
