#include "cli/BatchRun.h"

#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <Inventor/nodes/SoSeparator.h>

#include "cli/BatchImageTurns.h"
#include "cli/BatchPlan.h"
#include "cli/BatchReport.h"
#include "cli/InterruptCleanup.h"
#include "cli/WorkerPool.h"
#include "convert/BlockOutput.h"
#include "convert/Conversion.h"
#include "convert/SceneWriter.h"

namespace kestrav {

namespace {
const int kClashStatus = 2;

std::string describeLoss(const WorkerPool::Loss& loss) {
    if (loss.garbled) return "its conversion sent back a result that could not be read";
    if (WIFSIGNALED(loss.waitStatus)) {
        const int number = WTERMSIG(loss.waitStatus);
        return "its conversion was ended by signal " + std::to_string(number) + " (" + strsignal(number) + ")";
    }
    return "its conversion ended with status " + std::to_string(WEXITSTATUS(loss.waitStatus)) + " before reporting";
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

// Hands the files to the workers and reports each as it ends.
class Batch {
public:
    Batch(const BatchPlan& batchPlan, const std::string& batchFolder, const BatchJob& job, size_t workerCount,
          bool portable)
        : plan(batchPlan), folder(batchFolder), report(batchPlan.size(), terminalColumns()),
          pool(batchPlan.size(),
               [this, &job](uint32_t index) {
                   if (imageTurns) imageTurns->setCurrent(index);
                   return job(plan.input(index), plan.output(index), imageTurns.get());
               }),
          wanted(workerCount), start(std::chrono::steady_clock::now()) {
        // With -p the images are named in input order; made before any worker is forked.
        if (portable) imageTurns.reset(new BatchImageTurns(plan.size()));
        if (imageTurns && !imageTurns->usable()) imageTurns.reset();
    }

    int run() {
        const std::set<std::string> temporariesBefore = temporaryScenes(folder);
        startWorkers();
        while (pool.size() != 0) {
            pool.wait([this](const FileResult& result) { fileDone(result); },
                      [this](const WorkerPool::Loss& loss) { fileLost(loss); });
            // SIGINT, SIGTERM or SIGHUP: the batch ends as a single run would.
            if (pool.stopSignal() != 0) pool.stopAndDie();
            startWorkers();
        }
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
        while (pool.size() < wanted && pool.filesLeft() && pool.start(failure)) {
        }
        if (pool.size() == 0) failRemaining(failure);
    }

    // Without a worker the files left cannot be converted; each is reported.
    void failRemaining(const std::string& reason) {
        while (pool.filesLeft())
            writeToStderr(report.fileDone(plan.input(pool.takeFile()), FileEnd::Failed,
                                          {"Cannot start a process to convert it: " + reason}, elapsed()));
    }

    void fileDone(const FileResult& result) {
        if (imageTurns) imageTurns->finish(result.index);
        writeToStderr(report.fileDone(plan.input(result.index), fileEndOf(result.status), result.lines, elapsed()));
    }

    void fileLost(const WorkerPool::Loss& loss) {
        if (imageTurns) imageTurns->finish(loss.index);
        workerDied = true;
        writeToStderr(report.fileDone(plan.input(loss.index), FileEnd::Failed,
                                      {describeLoss(loss) + "; nothing was written for it."}, elapsed()));
    }

    const BatchPlan& plan;
    const std::string folder;
    BatchReport report;
    WorkerPool pool;
    std::unique_ptr<BatchImageTurns> imageTurns;
    const size_t wanted;
    const std::chrono::steady_clock::time_point start;
    bool workerDied = false;
};

}  // namespace

BatchJob conversionJob(const Options& options) {
    return [options](const std::string& input, const std::string& output, ImageTurn* imageTurn) {
        Conversion conversion;
        {
            // Ctrl-C reaches every worker: each removes the scene it was writing.
            InterruptCleanup cleanup;
            conversion = convertToFileWatched(input, output, options, InterruptCleanup::watchTemporary, imageTurn);
        }
        if (conversion.root) conversion.root->unref();
        FileResult result;
        result.status = conversion.status;
        result.lines = std::move(conversion.messages);
        return result;
    };
}

int runBatch(const ConverterOptions& options, const BatchJob& job) {
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
    return Batch(plan, options.batchFolder, job, workerCount, options.portable).run();
}

}  // namespace kestrav
