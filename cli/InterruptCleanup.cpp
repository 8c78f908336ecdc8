#include "cli/InterruptCleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

namespace kestrav {

namespace {
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The one process-wide state of the program: a signal handler can reach
// nothing else. The name is copied into a fixed buffer before it is marked as
// set, so the handler never sees half of it and needs no allocation.
char temporaryName[PATH_MAX];
volatile sig_atomic_t temporaryNamed = 0;
struct sigaction previousActions[sizeof kSignals / sizeof kSignals[0]];
sigset_t previousMask;

sigset_t cleanupSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : kSignals) sigaddset(&set, signalNumber);
    return set;
}

void removeTemporaryAndDie(int signalNumber) {
    if (temporaryNamed) unlink(temporaryName);
    // Dying of the signal itself tells the parent what happened; the shell
    // shows it as 128 + the signal's number.
    struct sigaction fallback;
    std::memset(&fallback, 0, sizeof fallback);
    fallback.sa_handler = SIG_DFL;
    sigaction(signalNumber, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}
}  // namespace

InterruptCleanup::InterruptCleanup() {
    sigprocmask(SIG_BLOCK, nullptr, &previousMask);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removeTemporaryAndDie;
    // One signal at a time: a second one waits until the first has cleaned up.
    action.sa_mask = cleanupSignals();
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        sigaction(kSignals[i], nullptr, &previousActions[i]);
        // nohup and background jobs start with signals ignored on purpose.
        if (previousActions[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &action, nullptr);
    }
}

InterruptCleanup::~InterruptCleanup() {
    // A signal held back while the scene was renamed into place ends the run now.
    temporaryNamed = 0;
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &previousActions[i], nullptr);
}

// Between null and a name the signals wait, so none can arrive once the file
// exists but before its name is known here.
void InterruptCleanup::watchTemporary(const char* temporaryPath) {
    const sigset_t signals = cleanupSignals();
    if (!temporaryPath) {
        sigprocmask(SIG_BLOCK, &signals, nullptr);
        temporaryNamed = 0;
        return;
    }
    if (std::strlen(temporaryPath) < sizeof temporaryName) {
        std::strcpy(temporaryName, temporaryPath);
        temporaryNamed = 1;
    }
    sigprocmask(SIG_UNBLOCK, &signals, nullptr);
}

}  // namespace kestrav
