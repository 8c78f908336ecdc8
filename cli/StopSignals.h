#pragma once

#include "cli/StopSignalDeath.h"

namespace kestrav {

// While one exists, SIGINT, SIGTERM and SIGHUP do not end the process at
// once: they are held back but while it waits (waitMask), and the first is
// recorded, so that a parent can pass it on to its workers, wait for them to
// clean up, and then die of it. A signal the program was started ignoring
// stays ignored. One at a time.
class StopSignals {
public:
    StopSignals();
    // Puts the signals' actions and the mask back as they were.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The mask to wait with (ppoll): the process's own, these signals let through.
    const sigset_t* waitMask() const { return &openMask; }
    // The signal that asked the process to stop, or 0.
    int caught() const;
    // For a process forked while one exists: the signals as the program had them.
    void restore() const;
    // Puts everything back, then dies of the signal, as it would have at once.
    [[noreturn]] void dieOf(int signalNumber) const;

private:
    struct sigaction previousActions[kStopSignalCount];
    sigset_t previousMask;
    sigset_t openMask;
};

}  // namespace kestrav
