#pragma once

// Runs a program the way a shell would, with its standard streams captured to
// files, and never waits for it longer than a deadline: a hang fails a test
// instead of blocking the run.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct LaunchOptions {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::vector<std::string> unsetVariables;
    std::vector<std::pair<std::string, std::string>> setVariables;
    std::string stdoutPath;  // empty: captured
    std::string workingDirectory;  // empty: the test's own
    mode_t umask = 022;
    long fileSizeLimit = -1;  // bytes; -1 leaves the limit alone
    long addressSpaceLimit = -1;  // bytes; -1 leaves the limit alone
    bool killPastFileSizeLimit = false;  // SIGXFSZ ends a process that writes past it
    bool dropRoot = false;    // run as nobody when the tests run as root
    bool ownProcessGroup = false;  // so a signal can reach it and its children, as Ctrl-C does
};

struct ProcessResult {
    bool timedOut = false;
    int exitStatus = -1;  // -1 when killed by a signal
    int signal = 0;
    std::string out;  // empty when stdoutPath was given
    std::string err;
};

class ChildProcess {
public:
    explicit ChildProcess(const LaunchOptions& launch);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return child; }
    // True once the process has ended; never blocks.
    bool finished();
    // Waits at most the given time, then kills the process.
    ProcessResult wait(double seconds);

private:
    void collect(ProcessResult& result) const;

    pid_t child = -1;
    bool reaped = false;
    int waitStatus = 0;
    std::string outPath;
    std::string errPath;
};

ProcessResult runProcess(const LaunchOptions& launch, double seconds = 120);

// A fresh directory that anyone may enter, removed when the test process ends.
const std::string& scratchDirectory();
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);
bool fileExists(const std::string& path);
