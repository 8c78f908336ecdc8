#include "cli/InterruptCleanup.h"

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "cli/StopSignalDeath.h"

namespace kestrav {

namespace {
// The one process-wide state of the program: a signal handler can reach
// nothing else. The name is copied into a fixed buffer before it is marked as
// set, so the handler never sees half of it and needs no allocation.
char temporaryName[PATH_MAX];
volatile sig_atomic_t temporaryNamed = 0;
struct sigaction previousActions[kStopSignalCount];
sigset_t previousMask;

void removeTemporaryAndDie(int signalNumber) {
    if (temporaryNamed) unlink(temporaryName);
    dieOfSignal(signalNumber);
}
}  // namespace

InterruptCleanup::InterruptCleanup() {
    sigprocmask(SIG_BLOCK, nullptr, &previousMask);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = removeTemporaryAndDie;
    // One signal at a time: a second one waits until the first has cleaned up.
    action.sa_mask = stopSignalSet();
    for (int i = 0; i < kStopSignalCount; ++i) {
        sigaction(kStopSignals[i], nullptr, &previousActions[i]);
        // nohup and background jobs start with signals ignored on purpose.
        if (previousActions[i].sa_handler != SIG_IGN) sigaction(kStopSignals[i], &action, nullptr);
    }
}

InterruptCleanup::~InterruptCleanup() {
    // A signal held back while the scene was renamed into place ends the run now.
    temporaryNamed = 0;
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    for (int i = 0; i < kStopSignalCount; ++i)
        sigaction(kStopSignals[i], &previousActions[i], nullptr);
}

// Between null and a name the signals wait, so none can arrive once the file
// exists but before its name is known here.
void InterruptCleanup::watchTemporary(const char* temporaryPath) {
    const sigset_t signals = stopSignalSet();
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
