// Runs a converter binary once per input file, without a display, and prints
// one line per run: outcome, wall seconds, peak RSS in kB, file name. A shell
// wrapper of time, timeout and prlimit costs more CPU than a small conversion.
//
//   sweep_run BINARY ADDRESS_SPACE_BYTES SECONDS FILE...
//
// An address-space cap of 0 leaves it unset (sanitizer builds reserve terabytes
// of address space). A run still going after SECONDS is killed. The outcome is
// status-N, signal-N, timeout, or sanitizer when the run's messages hold a
// sanitizer report; the messages are kept in FILE.err for every outcome but
// status 0 and 1.

#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace {

std::string runOne(const char* binary, rlim_t addressSpace, double limitSeconds, const std::string& input,
                   double& seconds, long& peakKb) {
    const std::string messages = input + ".err";
    const std::string output = input + ".iv";
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        if (addressSpace != 0) {
            const rlimit limit{addressSpace, addressSpace};
            setrlimit(RLIMIT_AS, &limit);
        }
        const int devNull = open("/dev/null", O_WRONLY);
        const int err = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (devNull < 0 || err < 0) _exit(120);
        dup2(devNull, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        unsetenv("DISPLAY");
        execl(binary, binary, input.c_str(), output.c_str(), static_cast<char*>(nullptr));
        _exit(121);
    }
    int status = 0;
    rusage usage{};
    bool killed = false;
    while (wait4(child, &status, WNOHANG, &usage) == 0) {
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > limitSeconds) {
            kill(child, SIGKILL);
            killed = true;
            wait4(child, &status, 0, &usage);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    peakKb = usage.ru_maxrss;
    unlink(output.c_str());

    std::ifstream in(messages);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string outcome;
    if (killed)
        outcome = "timeout";
    else if (text.find("Sanitizer") != std::string::npos || text.find("runtime error") != std::string::npos)
        outcome = "sanitizer";
    else if (WIFSIGNALED(status))
        outcome = "signal-" + std::to_string(WTERMSIG(status));
    else
        outcome = "status-" + std::to_string(WEXITSTATUS(status));
    if (outcome == "status-0" || outcome == "status-1") unlink(messages.c_str());
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s BINARY ADDRESS_SPACE_BYTES SECONDS FILE...\n", argv[0]);
        return 2;
    }
    const rlim_t addressSpace = std::strtoull(argv[2], nullptr, 10);
    const double limitSeconds = std::atof(argv[3]);
    for (int i = 4; i < argc; ++i) {
        double seconds;
        long peakKb;
        const std::string input = argv[i];
        const std::string outcome = runOne(argv[1], addressSpace, limitSeconds, input, seconds, peakKb);
        std::printf("%s %.2f %ld %s\n", outcome.c_str(), seconds, peakKb,
                    input.substr(input.find_last_of('/') + 1).c_str());
        std::fflush(stdout);
    }
    return 0;
}
