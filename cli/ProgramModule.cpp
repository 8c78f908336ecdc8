#include "cli/ProgramModule.h"

#include <dlfcn.h>
#include <sys/auxv.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace kestrav {

namespace {
// A module's own libraries come first when its names are looked up, as the
// program's do at its start: Coin's thousands of names are then found at
// once, not after a search of the program's libraries, which made loading
// Coin 0.6 ms slower than linking it. The sanitizers' runtimes refuse that.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KESTRAV_SANITIZED
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KESTRAV_SANITIZED
#endif
#endif
#ifdef KESTRAV_SANITIZED
const int kModuleFlags = RTLD_NOW | RTLD_LOCAL;
#else
const int kModuleFlags = RTLD_NOW | RTLD_LOCAL | RTLD_DEEPBIND;
#endif

// The program's own folder, from the kernel rather than argv[0], which a
// search of PATH or a symbolic link would leave elsewhere. Without /proc (a
// chroot, a build sandbox) the path the program was started by stands in,
// with its links resolved.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
    std::string program;
    if (length > 0 && size_t(length) < sizeof path) {
        program.assign(path, size_t(length));
    } else {
        const char* started = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
        if (!started || !realpath(started, path)) return ".";
        program = path;
    }
    return program.substr(0, program.find_last_of('/'));
}

std::string modulePath(const char* moduleName) {
    const std::string folder = programFolder();
    const std::string beside = folder + "/" + moduleName;
    if (access(beside.c_str(), F_OK) == 0) return beside;
    return folder + "/" KESTRAV_MODULES_FROM_PROGRAM "/" + moduleName;
}
}  // namespace

void* loadProgramModule(const char* moduleName, const char* symbol, std::string& failure) {
    void* module = dlopen(modulePath(moduleName).c_str(), kModuleFlags);
    if (!module) {
        failure = dlerror();
        return nullptr;
    }
    if (void* entry = dlsym(module, symbol)) return entry;
    failure = dlerror();
    return nullptr;
}

}  // namespace kestrav
