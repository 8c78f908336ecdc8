#pragma once

#include <cstddef>
#include <functional>

namespace kestrav {

// Runs produce(i, worker) for every i below count on up to `threads` threads
// (the calling thread one of them, as worker 0; each thread has a worker
// number of its own below threads, for what it reuses from item to item), at
// most `ahead` items past the last one consumed (produce(i) starts only once
// consume(i - ahead) has returned), while the calling thread runs consume(i)
// in order of i as each is produced. produce(i) may run on any of the threads
// and must touch only what belongs to item i and to its worker number; consume
// runs only on the calling thread. The threads end before the call returns.
// When produce or consume throws, no further item is started, every thread is
// joined, and the first exception is rethrown here.
void runOrdered(size_t count, unsigned threads, size_t ahead, const std::function<void(size_t, unsigned)>& produce,
                const std::function<void(size_t)>& consume);

}  // namespace kestrav
