#include "cli/ViewerModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace kestrav {

namespace {
const char* const kModuleName = "kestrav-viewer.so";

// The program's own folder, from the kernel rather than argv[0], which a
// search of PATH or a symbolic link would leave elsewhere.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || size_t(length) >= sizeof path) return ".";
    const std::string program(path, size_t(length));
    return program.substr(0, program.find_last_of('/'));
}

std::string modulePath() {
    const std::string folder = programFolder();
    const std::string beside = folder + "/" + kModuleName;
    if (access(beside.c_str(), F_OK) == 0) return beside;
    return folder + "/" KESTRAV_VIEWER_FROM_PROGRAM "/" + kModuleName;
}
}  // namespace

ViewScene loadViewer(std::string& failure) {
    void* module = dlopen(modulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        failure = dlerror();
        return nullptr;
    }
    // Never closed: the toolkit it starts lives until the process ends.
    if (void* entry = dlsym(module, kViewSceneSymbol)) return reinterpret_cast<ViewScene>(entry);
    failure = dlerror();
    return nullptr;
}

}  // namespace kestrav
