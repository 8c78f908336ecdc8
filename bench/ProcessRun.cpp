#include "bench/ProcessRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace {

std::vector<std::string> environmentWith(const std::string& display) {
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "DISPLAY=", 8) != 0) variables.push_back(*entry);
    if (!display.empty()) variables.push_back("DISPLAY=" + display);
    return variables;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> list;
    for (std::string& s : strings) list.push_back(s.data());
    list.push_back(nullptr);
    return list;
}

}  // namespace

ProcessFigures runProcess(const std::vector<std::string>& argv, const std::string& directory,
                          const std::string& display, bool captureOutput) {
    ProcessFigures figures;
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = environmentWith(display);
    std::vector<char*> argumentList = pointers(arguments);
    std::vector<char*> environmentList = pointers(environment);

    int output[2] = {-1, -1};
    if (captureOutput && pipe2(output, O_CLOEXEC) != 0) return figures;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (captureOutput)
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);

    const auto start = std::chrono::steady_clock::now();
    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, argumentList[0], &actions, nullptr, argumentList.data(), environmentList.data());
    posix_spawn_file_actions_destroy(&actions);
    if (captureOutput) close(output[1]);
    if (spawned != 0) {
        if (captureOutput) close(output[0]);
        return figures;
    }
    figures.started = true;

    if (captureOutput) {
        char buffer[4096];
        ssize_t count;
        while ((count = read(output[0], buffer, sizeof buffer)) != 0) {
            if (count > 0) figures.out.append(buffer, size_t(count));
            else if (errno != EINTR) break;
        }
        close(output[0]);
    }
    int status = 0;
    rusage usage;
    while (wait4(child, &status, 0, &usage) < 0)
        if (errno != EINTR) return figures;
    figures.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    figures.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    figures.peakBytes = double(usage.ru_maxrss) * 1024.0;
    figures.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return figures;
}
