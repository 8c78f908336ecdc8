#pragma once

#include <signal.h>

namespace kestrav {

// The signals that ask kestrav to stop: Ctrl-C, kill PID and a closed terminal.
inline constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
inline constexpr int kStopSignalCount = sizeof kStopSignals / sizeof kStopSignals[0];

sigset_t stopSignalSet();

// Dies of the signal by its default action, as the process would have without
// a handler: whoever started it sees the signal (a shell shows 128 + its
// number). Safe in a signal handler.
[[noreturn]] void dieOfSignal(int signalNumber);

}  // namespace kestrav
