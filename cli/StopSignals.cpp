#include "cli/StopSignals.h"

#include <unistd.h>

#include <cstring>

namespace kestrav {

namespace {
const int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// A signal handler can reach nothing else.
volatile sig_atomic_t caughtSignal = 0;

void recordSignal(int signalNumber) {
    if (caughtSignal == 0) caughtSignal = signalNumber;
}

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : kSignals) sigaddset(&set, signalNumber);
    return set;
}
}  // namespace

StopSignals::StopSignals() {
    caughtSignal = 0;
    const sigset_t held = stopSignalSet();
    sigprocmask(SIG_BLOCK, &held, &previousMask);
    openMask = previousMask;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = recordSignal;
    action.sa_mask = held;
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) {
        sigaction(kSignals[i], nullptr, &previousActions[i]);
        // nohup and background jobs start with signals ignored on purpose.
        if (previousActions[i].sa_handler == SIG_IGN) continue;
        sigaction(kSignals[i], &action, nullptr);
        sigdelset(&openMask, kSignals[i]);
    }
}

StopSignals::~StopSignals() { restore(); }

int StopSignals::caught() const { return caughtSignal; }

void StopSignals::restore() const {
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        sigaction(kSignals[i], &previousActions[i], nullptr);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}

void StopSignals::dieOf(int signalNumber) const {
    restore();
    // Dying of the signal itself tells whoever started the run what happened.
    signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    raise(signalNumber);
    _exit(128 + signalNumber);
}

}  // namespace kestrav
