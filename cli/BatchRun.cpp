#include "cli/BatchRun.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <Inventor/nodes/SoSeparator.h>

#include "cli/BatchPlan.h"
#include "cli/BatchReport.h"
#include "cli/InterruptCleanup.h"
#include "convert/Conversion.h"
#include "convert/SceneOutput.h"
#include "convert/SceneWriter.h"
#include "kestrav/kestrav.h"

namespace kestrav {

namespace {
const int kClashStatus = 2;
// Test-only: a worker given an input of this file name aborts instead of
// converting it, so the tests can show that a crashing worker costs only its
// own file. Nothing else reads it.
const char* const kTestAbortVariable = "KESTRAV_TEST_ABORT_ON";

// What a worker sends back for each file, in one message so that a file's
// lines always arrive together: index, outcome, line count, then each line
// with its length before it. The whole message has its length before it.
std::string encodeResult(uint32_t index, const Conversion& conversion) {
    std::string body;
    auto put = [&body](uint32_t value) { body.append(reinterpret_cast<const char*>(&value), sizeof value); };
    put(index);
    put(uint32_t(conversion.status));
    put(uint32_t(conversion.messages.size()));
    for (const std::string& line : conversion.messages) {
        put(uint32_t(line.size()));
        body += line;
    }
    std::string message;
    const uint32_t size = uint32_t(body.size());
    message.append(reinterpret_cast<const char*>(&size), sizeof size);
    return message + body;
}

struct FileResult {
    uint32_t index = 0;
    Outcome status = Outcome::Unreadable;
    std::vector<std::string> lines;
};

// Takes one whole message off the front of buffer; false while it is incomplete.
bool takeResult(std::string& buffer, FileResult& result) {
    size_t at = 0;
    auto get = [&buffer, &at]() {
        uint32_t value = 0;
        std::memcpy(&value, buffer.data() + at, sizeof value);
        at += sizeof value;
        return value;
    };
    if (buffer.size() < sizeof(uint32_t)) return false;
    const size_t size = get();
    if (buffer.size() < sizeof(uint32_t) + size) return false;
    result.index = get();
    result.status = Outcome(get());
    result.lines.resize(get());
    for (std::string& line : result.lines) {
        const size_t length = get();
        line.assign(buffer, at, length);
        at += length;
    }
    buffer.erase(0, sizeof(uint32_t) + size);
    return true;
}

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

bool isTestAbortInput(const std::string& input) {
    const char* name = std::getenv(kTestAbortVariable);
    if (!name) return false;
    const size_t slash = input.rfind('/');
    return input.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, name) == 0;
}

// A worker converts the files the parent hands it, one index at a time, until
// the parent closes its end. Coin is initialised here, after the fork, on the
// first conversion: the parent never starts it.
[[noreturn]] void workerMain(int taskFd, int resultFd, const BatchPlan& plan, const Options& options) {
    signal(SIGPIPE, SIG_DFL);
    uint32_t index = 0;
    while (readAll(taskFd, &index, sizeof index) && index < plan.size()) {
        if (isTestAbortInput(plan.input(index))) {
            const rlimit noCore{0, 0};
            setrlimit(RLIMIT_CORE, &noCore);
            std::abort();
        }
        Conversion conversion;
        {
            // Ctrl-C reaches every worker: each removes the scene it was writing.
            InterruptCleanup cleanup;
            conversion = convertToFileWatched(plan.input(index), plan.output(index), options,
                                              InterruptCleanup::watchTemporary);
        }
        if (conversion.root) conversion.root->unref();
        const std::string message = encodeResult(index, conversion);
        if (!writeAll(resultFd, message.data(), message.size())) break;
    }
    // Nothing of the parent's (streams, atexit handlers) is the worker's to finish.
    _exit(0);
}

struct Worker {
    pid_t pid = -1;
    int taskFd = -1;    // the parent writes file indices here
    int resultFd = -1;  // and reads results here
    long current = -1;  // the file it was handed and has not reported
    std::string buffer;
};

std::string describeEnd(int waitStatus) {
    if (WIFSIGNALED(waitStatus)) {
        const int number = WTERMSIG(waitStatus);
        return "its conversion was ended by signal " + std::to_string(number) + " (" + strsignal(number) + ")";
    }
    return "its conversion ended with status " + std::to_string(WEXITSTATUS(waitStatus)) + " before reporting";
}

size_t processorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return size_t(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? size_t(online) : 1;
}

size_t terminalColumns() {
    if (!isatty(STDERR_FILENO)) return 0;
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) return size.ws_col;
    return 80;
}

// The names in folder that a scene's temporary file can have.
std::set<std::string> temporaryScenes(const std::string& folder) {
    const std::string pattern = kTemporarySceneName;
    const std::string prefix = pattern.substr(0, pattern.find('X'));
    std::set<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == pattern.size() && name.compare(0, prefix.size(), prefix) == 0) names.insert(name);
    }
    return names;
}

void writeToStderr(const std::string& text) {
    if (!text.empty()) writeAll(STDERR_FILENO, text.data(), text.size());
}

class Batch {
public:
    Batch(const BatchPlan& batchPlan, const std::string& batchFolder, const Options& batchOptions, size_t workerCount)
        : plan(batchPlan), folder(batchFolder), options(batchOptions), report(batchPlan.size(), terminalColumns()),
          wanted(workerCount), start(std::chrono::steady_clock::now()) {}

    int run() {
        const std::set<std::string> temporariesBefore = temporaryScenes(folder);
        startWorkers();
        while (!workers.empty()) waitForWorkers();
        // A worker that died while writing left its temporary file, part of a
        // scene; only those that appeared during the run are ours to remove.
        if (workerDied)
            for (const std::string& name : temporaryScenes(folder))
                if (!temporariesBefore.count(name)) unlink((folder + "/" + name).c_str());
        writeToStderr(report.summary(elapsed()));
        return report.exitStatus();
    }

private:
    double elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); }

    // Up to the number wanted, while files are left. When none can be started
    // the workers there are take the rest; with none at all, the rest fail.
    void startWorkers() {
        std::string failure;
        while (workers.size() < wanted && next < plan.size() && startWorker(failure)) {
        }
        if (workers.empty()) failRemaining(failure);
    }

    // False, with the system's reason, when no worker could be started.
    bool startWorker(std::string& failure) {
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
                close(other.taskFd);
                close(other.resultFd);
            }
            close(task[1]);
            close(result[0]);
            workerMain(task[0], result[1], plan, options);
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

    // Without a worker the files left cannot be converted; each is reported.
    void failRemaining(const std::string& reason) {
        for (; next < plan.size(); ++next)
            writeToStderr(report.fileDone(plan.input(next), FileEnd::Failed,
                                          {"Cannot start a process to convert it: " + reason}, elapsed()));
    }

    void handOut(Worker& worker) {
        if (next >= plan.size()) {
            close(worker.taskFd);
            worker.taskFd = -1;
            return;
        }
        const uint32_t index = uint32_t(next++);
        worker.current = long(index);
        // A worker that died before reading it is seen when its results end.
        writeAll(worker.taskFd, &index, sizeof index);
    }

    void waitForWorkers() {
        std::vector<pollfd> watched;
        for (const Worker& worker : workers) watched.push_back({worker.resultFd, POLLIN, 0});
        if (poll(watched.data(), watched.size(), -1) < 0) return;
        std::vector<size_t> ended;
        for (size_t i = 0; i < watched.size(); ++i) {
            if (watched[i].revents == 0) continue;
            if (!readResults(workers[i])) ended.push_back(i);
        }
        for (size_t i = ended.size(); i-- > 0;) endWorker(ended[i]);
        startWorkers();
    }

    // False once the worker's results have ended.
    bool readResults(Worker& worker) {
        char block[64 * 1024];
        const ssize_t count = read(worker.resultFd, block, sizeof block);
        if (count < 0) return errno == EINTR || errno == EAGAIN;
        if (count == 0) return false;
        worker.buffer.append(block, size_t(count));
        FileResult result;
        while (takeResult(worker.buffer, result)) {
            const FileEnd end = fileEndOf(result.status);
            writeToStderr(report.fileDone(plan.input(result.index), end, result.lines, elapsed()));
            worker.current = -1;
            handOut(worker);
        }
        return true;
    }

    void endWorker(size_t position) {
        Worker worker = workers[position];
        workers.erase(workers.begin() + long(position));
        close(worker.resultFd);
        if (worker.taskFd >= 0) close(worker.taskFd);
        int waitStatus = 0;
        while (waitpid(worker.pid, &waitStatus, 0) < 0 && errno == EINTR) {
        }
        if (worker.current < 0) return;
        workerDied = true;
        writeToStderr(report.fileDone(plan.input(size_t(worker.current)), FileEnd::Failed,
                                      {describeEnd(waitStatus) + "; nothing was written for it."}, elapsed()));
    }

    const BatchPlan& plan;
    const std::string folder;
    const Options& options;
    BatchReport report;
    const size_t wanted;
    const std::chrono::steady_clock::time_point start;
    std::vector<Worker> workers;
    size_t next = 0;
    bool workerDied = false;
};

}  // namespace

int runBatch(const ConverterOptions& options) {
    const BatchPlan plan(options.batchFolder, options.batchInputs);
    if (!plan.clashes().empty()) {
        std::string text;
        for (const std::string& line : plan.clashes()) text += "kestrav: " + line + '\n';
        writeToStderr(text + "kestrav: nothing was converted.\n");
        return kClashStatus;
    }
    std::error_code error;
    std::filesystem::create_directories(options.batchFolder, error);
    if (error) {
        writeToStderr("kestrav: Cannot create the folder \"" + options.batchFolder + "\": " + error.message() +
                      "; nothing was converted.\n");
        return 1;
    }
    // A worker that died must not take the parent with it when it is handed a file.
    signal(SIGPIPE, SIG_IGN);
    const size_t workerCount = options.workerCount > 0 ? size_t(options.workerCount) : processorCount();
    return Batch(plan, options.batchFolder, options, workerCount).run();
}

}  // namespace kestrav
