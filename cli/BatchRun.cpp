#include "cli/BatchRun.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cli/BatchImageTurns.h"
#include "appearance/TextureArchive.h"
#include "cli/BatchPlan.h"
#include "cli/BatchReport.h"
#include "cli/ModelReport.h"
#include "cli/ModelTree.h"
#include "cli/WorkerPool.h"
#include "convert/ProcessorCount.h"
#include "convert/SceneWriter.h"
#include "convert/WriteAll.h"

namespace kestrav {

namespace {
const int kRefusedStatus = 2;

std::string describeLoss(const WorkerPool::Loss& loss) {
    if (loss.garbled) return "its conversion sent back a result that could not be read";
    if (WIFSIGNALED(loss.waitStatus)) {
        const int number = WTERMSIG(loss.waitStatus);
        return "its conversion was ended by signal " + std::to_string(number) + " (" + strsignal(number) + ")";
    }
    return "its conversion ended with status " + std::to_string(WEXITSTATUS(loss.waitStatus)) + " before reporting";
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

long long sizeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) ? (long long)info.st_size : -1;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The models of a batch that are to be converted: all of them, or with -u
// those whose scenes are missing or older.
std::vector<size_t> modelsToConvert(const BatchPlan& plan, bool onlyNewer) {
    std::vector<size_t> chosen;
    for (size_t i = 0; i < plan.size(); ++i)
        if (!onlyNewer || !plan.upToDate(i)) chosen.push_back(i);
    return chosen;
}

// Hands the files to the workers and reports each as it ends.
class Batch {
public:
    Batch(const BatchPlan& batchPlan, std::vector<size_t> toConvert, const BatchJob& job,
          const TextureArchive* textureArchive, ModelReport& modelReport, ProcessorShare share, bool portable)
        : plan(batchPlan), pending(std::move(toConvert)), archive(textureArchive), models(modelReport),
          report(batchPlan.size(), terminalColumns()),
          pool(pending.size(),
               [this, &job, share](uint32_t index) {
                   if (imageTurns) imageTurns->setCurrent(index);
                   return job(plan.input(pending[index]), plan.output(pending[index]), imageTurns.get(), archive,
                              share.threadsPerWorker);
               }),
          wanted(share.workers), start(std::chrono::steady_clock::now()) {
        // With -p the images are named in input order; made before any worker is forked.
        if (portable) imageTurns.reset(new BatchImageTurns(pending.size()));
        if (imageTurns && !imageTurns->usable()) imageTurns.reset();
    }

    int run(const ModelTree& tree) {
        for (const ModelTree::Unlisted& folder : tree.unlistedFolders)
            writeToStderr(report.folderUnlisted(folder.folder, folder.reason));
        for (size_t model = 0, next = 0; model < plan.size(); ++model) {
            if (next < pending.size() && pending[next] == model) {
                ++next;
                continue;
            }
            writeToStderr(report.fileDone(plan.input(model), FileEnd::UpToDate, {}, elapsed()));
            if (!models.isOpen()) continue;
            ModelReportEntry entry = entryFor(model, FileEnd::UpToDate);
            entry.outputBytes = sizeOf(plan.output(model));
            addToReport(entry);
        }
        // Each folder a scene is written to, as it was before the run.
        std::map<std::string, std::set<std::string>> temporariesBefore;
        for (size_t model : pending) {
            const std::string folder = folderOf(plan.output(model));
            if (!temporariesBefore.count(folder)) temporariesBefore[folder] = temporaryScenes(folder);
        }
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
        for (const auto& [folder, before] : temporariesBefore) {
            if (!workerDied) break;
            for (const std::string& name : temporaryScenes(folder))
                if (!before.count(name)) unlink((folder + "/" + name).c_str());
        }
        writeToStderr(report.summary(elapsed()));
        return reportFailed ? 1 : report.exitStatus();
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
            modelEnded(pending[pool.takeFile()], FileEnd::Failed,
                       {"Cannot start a process to convert it: " + reason}, nullptr);
    }

    void fileDone(const FileResult& result) {
        if (imageTurns) imageTurns->finish(result.index);
        modelEnded(pending[result.index], fileEndOf(result.status), result.lines, &result);
    }

    void fileLost(const WorkerPool::Loss& loss) {
        if (imageTurns) imageTurns->finish(loss.index);
        workerDied = true;
        modelEnded(pending[loss.index], FileEnd::Failed, {describeLoss(loss) + "; nothing was written for it."},
                   nullptr);
    }

    ModelReportEntry entryFor(size_t model, FileEnd end) const {
        ModelReportEntry entry;
        entry.model = plan.input(model);
        entry.scene = plan.output(model);
        entry.end = end;
        entry.inputBytes = sizeOf(entry.model);
        return entry;
    }

    // result: what the worker sent, null when none converted the model.
    void modelEnded(size_t model, FileEnd end, const std::vector<std::string>& lines, const FileResult* result) {
        writeToStderr(report.fileDone(plan.input(model), end, lines, elapsed()));
        if (!models.isOpen()) return;
        ModelReportEntry entry = entryFor(model, end);
        entry.messages = lines;
        if (end != FileEnd::Failed) entry.outputBytes = sizeOf(entry.scene);
        if (result) {
            entry.seconds = double(result->microseconds) / 1e6;
            entry.built = result->built;
            entry.figures = result->figures;
        }
        addToReport(entry);
    }

    // A report that fails part-way says so once; the conversions go on.
    void addToReport(const ModelReportEntry& entry) {
        std::string failure;
        if (!models.isOpen() || reportFailed || models.add(entry, failure)) return;
        reportFailed = true;
        writeToStderr("kestrav: Cannot write the report: " + failure + '\n');
    }

    const BatchPlan& plan;
    const std::vector<size_t> pending;  // the models to convert; the pool's indices are places in it
    const TextureArchive* archive;
    ModelReport& models;
    BatchReport report;
    WorkerPool pool;
    std::unique_ptr<BatchImageTurns> imageTurns;
    const size_t wanted;
    const std::chrono::steady_clock::time_point start;
    bool workerDied = false;
    bool reportFailed = false;
};

void refuse(const std::string& line) { writeToStderr("kestrav: " + line + "; nothing was converted.\n"); }

}  // namespace

ProcessorShare shareProcessors(size_t threads, size_t models) {
    threads = std::max<size_t>(threads, 1);
    const size_t workers = std::min(threads, std::max<size_t>(models, 1));
    return {workers, unsigned(threads / workers)};
}

int runBatch(const ConverterOptions& options, const BatchJobSource& jobSource) {
    std::vector<std::string> names = options.batchInputs;
    std::string failure;
    if (!options.filesFrom.empty() && !readNameList(options.filesFrom, names, failure)) {
        refuse("Cannot read the file list \"" + options.filesFrom + "\": " + failure);
        return kRefusedStatus;
    }
    const ModelTree tree = findModels(names, options.recursive, options.batchFolder);
    const BatchPlan plan(options.batchFolder, tree.models, options.recursive);
    if (!plan.clashes().empty()) {
        std::string text;
        for (const std::string& line : plan.clashes()) text += "kestrav: " + line + '\n';
        writeToStderr(text + "kestrav: nothing was converted.\n");
        return kRefusedStatus;
    }
    ModelReport modelReport;
    if (!options.reportPath.empty() && !modelReport.open(options.reportPath, failure)) {
        refuse("Cannot write the report to \"" + options.reportPath + "\": " + failure);
        return kRefusedStatus;
    }
    std::error_code error;
    std::filesystem::create_directories(options.batchFolder, error);
    if (error) {
        refuse("Cannot create the folder \"" + options.batchFolder + "\": " + error.message());
        return 1;
    }
    std::vector<size_t> toConvert = modelsToConvert(plan, options.onlyNewer);
    BatchJob job;
    if (!toConvert.empty() && !(job = jobSource(failure))) {
        refuse(failure);
        return 1;
    }
    // Listed once for every model, and only when some model is converted.
    std::unique_ptr<TextureArchive> archive;
    if (options.recursive && !options.noTextures && !toConvert.empty())
        archive.reset(new TextureArchive(tree.archiveRoots));
    // A worker that died must not take the parent with it when it is handed a file.
    signal(SIGPIPE, SIG_IGN);
    const ProcessorShare share = shareProcessors(threadsFor(options.threads), toConvert.size());
    return Batch(plan, std::move(toConvert), job, archive.get(), modelReport, share, options.portable)
        .run(tree);
}

}  // namespace kestrav
