#include "cli/StopSignals.h"

#include <unistd.h>

#include <cstring>

#include "cli/StopSignalDeath.h"

namespace kestrav {

namespace {
// A signal handler can reach nothing else.
volatile sig_atomic_t caughtSignal = 0;

void recordSignal(int signalNumber) {
    if (caughtSignal == 0) caughtSignal = signalNumber;
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
    for (int i = 0; i < kStopSignalCount; ++i) {
        sigaction(kStopSignals[i], nullptr, &previousActions[i]);
        // nohup and background jobs start with signals ignored on purpose.
        if (previousActions[i].sa_handler == SIG_IGN) continue;
        sigaction(kStopSignals[i], &action, nullptr);
        sigdelset(&openMask, kStopSignals[i]);
    }
}

StopSignals::~StopSignals() { restore(); }

int StopSignals::caught() const { return caughtSignal; }

void StopSignals::restore() const {
    for (int i = 0; i < kStopSignalCount; ++i)
        sigaction(kStopSignals[i], &previousActions[i], nullptr);
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}

void StopSignals::dieOf(int signalNumber) const {
    restore();
    dieOfSignal(signalNumber);
}

}  // namespace kestrav
