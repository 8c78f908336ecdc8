#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrav {

// Items produced ahead of a consumer that takes them in order, on whatever
// thread it runs: produce(i, worker) runs for every i below count on up to
// `threads` threads (the consumer's own one of them, as worker 0, while it
// waits; each thread has a worker number of its own below threads, for what
// it reuses from item to item), at most `ahead` items past the last one
// consumed (produce(i) starts only once item i - ahead is consumed).
// produce(i) may run on any of the threads and must touch only what belongs
// to item i and to its worker number. When produce throws, no further item
// is started and take rethrows the first exception. The workers end when the
// last item is taken or the object ends, whichever comes first.
class OrderedWork {
public:
    OrderedWork(size_t count, unsigned threads, size_t ahead, std::function<void(size_t, unsigned)> produce);
    ~OrderedWork();
    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // Waits until item i is produced, producing items meanwhile when one is
    // free to start, and counts the item before it consumed; items are taken
    // in order, from 0.
    void take(size_t i);

private:
    void work(unsigned worker);
    void produceNext(std::unique_lock<std::mutex>& lock, unsigned worker);
    void stopWorkers();

    const size_t count;
    const size_t ahead;
    const std::function<void(size_t, unsigned)> produce;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> produced;
    size_t next = 0;
    size_t consumed = 0;
    bool stopped = false;
    std::exception_ptr failure;
    std::vector<std::thread> workers;
};

}  // namespace kestrav
