#include "tests/e2e/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

struct ScratchDirectory {
    std::string path;
    ScratchDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrav-e2e-XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        chmod(pattern.c_str(), 0755);
        path = pattern;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

int captureCounter = 0;

std::vector<std::string> childEnvironment(const LaunchOptions& launch) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable(*entry);
        const std::string name = variable.substr(0, variable.find('='));
        bool replaced = false;
        for (const std::string& unset : launch.unsetVariables) replaced |= unset == name;
        for (const auto& set : launch.setVariables) replaced |= set.first == name;
        if (!replaced) environment.push_back(variable);
    }
    for (const auto& set : launch.setVariables) environment.push_back(set.first + "=" + set.second);
    return environment;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (std::string& s : strings) result.push_back(&s[0]);
    result.push_back(nullptr);
    return result;
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void becomeChild(const LaunchOptions& launch, int in, int out, int err, char** argv, char** envp) {
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    umask(launch.umask);
    if (launch.ownProcessGroup) setpgid(0, 0);
    if (!launch.workingDirectory.empty() && chdir(launch.workingDirectory.c_str()) != 0) _exit(126);
    if (launch.fileSizeLimit >= 0) {
        // Past the limit a write fails with EFBIG instead of killing the process,
        // unless the test wants it killed.
        if (!launch.killPastFileSizeLimit) signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(launch.fileSizeLimit), rlim_t(launch.fileSizeLimit)};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (launch.addressSpaceLimit >= 0) {
        const rlimit limit{rlim_t(launch.addressSpaceLimit), rlim_t(launch.addressSpaceLimit)};
        setrlimit(RLIMIT_AS, &limit);
    }
    if (launch.dropRoot && geteuid() == 0) {
        const gid_t nogroup = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(nogroup) != 0 || setuid(65534) != 0) _exit(126);
    }
    // Set after the change of user, which clears it: a viewer left running must
    // not outlive a test process that crashed or was killed.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execve(argv[0], argv, envp);
    _exit(127);
}

}  // namespace

const std::string& scratchDirectory() {
    static ScratchDirectory directory;
    return directory.path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool fileExists(const std::string& path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0;
}

ChildProcess::ChildProcess(const LaunchOptions& launch) {
    const std::string prefix = scratchDirectory() + "/capture-" + std::to_string(getpid()) + "-" +
                               std::to_string(++captureCounter);
    outPath = launch.stdoutPath.empty() ? prefix + ".out" : "";
    errPath = prefix + ".err";

    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open(launch.stdoutPath.empty() ? outPath.c_str() : launch.stdoutPath.c_str(),
                         O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<std::string> arguments = launch.argv;
    std::vector<std::string> environment = childEnvironment(launch);
    std::vector<char*> argv = pointers(arguments);
    std::vector<char*> envp = pointers(environment);

    if (in >= 0 && out >= 0 && err >= 0) {
        child = fork();
        if (child == 0) becomeChild(launch, in, out, err, argv.data(), envp.data());
    }
    for (int fd : {in, out, err})
        if (fd >= 0) close(fd);
    if (child < 0) reaped = true;
}

ChildProcess::~ChildProcess() {
    if (!reaped) wait(0);
}

bool ChildProcess::finished() {
    if (!reaped && waitpid(child, &waitStatus, WNOHANG) == child) reaped = true;
    return reaped;
}

ProcessResult ChildProcess::wait(double seconds) {
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!finished() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (!reaped) {
        result.timedOut = true;
        kill(child, SIGKILL);
        waitpid(child, &waitStatus, 0);
        reaped = true;
    }
    if (child < 0) result.err = "could not start the process";
    if (!result.timedOut && child > 0) {
        if (WIFEXITED(waitStatus)) result.exitStatus = WEXITSTATUS(waitStatus);
        if (WIFSIGNALED(waitStatus)) result.signal = WTERMSIG(waitStatus);
    }
    collect(result);
    return result;
}

void ChildProcess::collect(ProcessResult& result) const {
    if (!outPath.empty()) result.out = readFile(outPath);
    result.err += readFile(errPath);
}

ProcessResult runProcess(const LaunchOptions& launch, double seconds) {
    ChildProcess process(launch);
    return process.wait(seconds);
}
