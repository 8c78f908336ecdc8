// Runs a converter binary once per input file, without a display, and prints
// one line per run: outcome, wall seconds, peak RSS in kB, file name. A shell
// wrapper of time, timeout and prlimit costs more CPU than a small conversion.
//
//   sweep_run BINARY ADDRESS_SPACE_BYTES SECONDS FILE...
//
// An address-space cap of 0 leaves it unset (sanitizer builds reserve terabytes
// of address space). A run still going after SECONDS is killed. The outcome is
// status-N, signal-N, timeout, sanitizer when the run's messages hold a
// sanitizer report, or unreadable when the run ended with status 0 but Coin
// cannot read the scene it wrote; the messages (with Coin's, for an unreadable
// scene) are kept in FILE.err for every outcome but status 0 and 1.

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/errors/SoReadError.h>
#include <Inventor/nodes/SoSeparator.h>
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

void keepReadError(const SoError* error, void* messages) {
    *static_cast<std::string*>(messages) += error->getDebugString().getString() + std::string("\n");
}

// True when Coin reads the scene file; otherwise its complaints go to messages.
bool readsBack(const std::string& scene, const std::string& messages) {
    std::string errors;
    SoReadError::setHandlerCallback(keepReadError, &errors);
    SoInput input;
    SoSeparator* root = input.openFile(scene.c_str(), TRUE) ? SoDB::readAll(&input) : nullptr;
    SoReadError::setHandlerCallback(nullptr, nullptr);
    if (root) {
        root->ref();
        root->unref();
        return true;
    }
    std::ofstream(messages, std::ios::app) << "the written scene does not read back: " << scene << "\n" << errors;
    return false;
}

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
    // Status 0 means the scene was written, and it must be one Coin can read.
    const bool converted = !killed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool unreadable = converted && !readsBack(output, messages);
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
    else if (unreadable)
        outcome = "unreadable";
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
    SoDB::init();
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
