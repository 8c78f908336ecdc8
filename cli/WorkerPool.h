#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli/BatchMessage.h"
#include "cli/StopSignals.h"

namespace kestrav {

// The worker processes of a batch. Each is forked from the program, is handed
// one file index at a time through a pipe and answers each with one message
// on another; the files are handed out in order. A worker that dies, or that
// sends what no worker sends, costs only the file it held. While the pool
// exists, SIGINT, SIGTERM and SIGHUP stop it (stopSignal) instead of ending
// the program at once.
class WorkerPool {
public:
    // Runs in a worker for each file it is handed; the index is filled in after.
    using Job = std::function<FileResult(uint32_t index)>;
    // A file whose worker ended before reporting it.
    struct Loss {
        uint32_t index = 0;
        int waitStatus = 0;    // as waitpid gives it
        bool garbled = false;  // the worker was ended for a message that could not be read
    };

    WorkerPool(size_t fileCount, Job job);
    // Closes every pipe and waits for every worker.
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    size_t size() const { return workers.size(); }
    bool filesLeft() const { return next < fileCount; }
    // The next file, taken off the queue without a worker: for when none can start.
    uint32_t takeFile() { return uint32_t(next++); }
    // Forks one more worker and hands it the next file; false, with the
    // system's reason, when it cannot.
    bool start(std::string& failure);
    // Waits until some workers report or end, and hands on each result and
    // each lost file; a worker that reported gets the next file, or is told
    // there are no more.
    void wait(const std::function<void(const FileResult&)>& done, const std::function<void(const Loss&)>& lost);
    // The signal that asked the batch to stop, or 0.
    int stopSignal() const { return signals.caught(); }
    // Passes the stop signal on to every worker, waits until each has removed
    // what it was writing and ended, then dies of the signal.
    [[noreturn]] void stopAndDie();

private:
    struct Worker {
        pid_t pid = -1;
        int taskFd = -1;    // the parent writes file indices here
        int resultFd = -1;  // and reads results here
        long current = -1;  // the file it was handed and has not reported
        std::string buffer;
        bool garbled = false;
    };

    [[noreturn]] void workerMain(int taskFd, int resultFd) const;
    void handOut(Worker& worker);
    // False once the worker's results have ended, or it sent a damaged message.
    bool readResults(Worker& worker, const std::function<void(const FileResult&)>& done);
    void end(size_t position, const std::function<void(const Loss&)>& lost);

    const size_t fileCount;
    const Job job;
    const StopSignals signals;
    std::vector<Worker> workers;
    size_t next = 0;
};

}  // namespace kestrav
