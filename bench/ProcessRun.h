#pragma once

// Starts a program as a batch script would and measures it from the outside:
// wall time from start to exit, processor time and peak resident size from the
// kernel. On a loaded machine the processor time stays close to what an idle
// one would take, while the wall time grows.

#include <string>
#include <vector>

struct ProcessFigures {
    bool started = false;
    int exitStatus = -1;  // -1 when it ended by a signal
    double wallSeconds = 0;
    double cpuSeconds = 0;  // user and system time of the process
    double peakBytes = 0;
    std::string out;  // standard output, when captured
};

// Runs argv[0] with the rest as arguments in directory, its standard input
// from /dev/null and its standard error shared with ours. display empty:
// DISPLAY is removed from the environment; otherwise DISPLAY is set to it.
ProcessFigures runProcess(const std::vector<std::string>& argv, const std::string& directory,
                          const std::string& display, bool captureOutput);
