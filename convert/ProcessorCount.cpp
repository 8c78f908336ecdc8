#include "convert/ProcessorCount.h"

#include <sched.h>
#include <unistd.h>

namespace kestrav {

size_t processorCount() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return size_t(CPU_COUNT(&set));
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? size_t(online) : 1;
}

size_t threadsFor(unsigned requested) { return requested > 0 ? size_t(requested) : processorCount(); }

}  // namespace kestrav
