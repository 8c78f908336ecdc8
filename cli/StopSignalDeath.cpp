#include "cli/StopSignalDeath.h"

#include <unistd.h>

#include <cstring>

namespace kestrav {

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signalNumber : kStopSignals) sigaddset(&set, signalNumber);
    return set;
}

void dieOfSignal(int signalNumber) {
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

}  // namespace kestrav
