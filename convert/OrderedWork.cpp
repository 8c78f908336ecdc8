#include "convert/OrderedWork.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace kestrav {

namespace {
class OrderedWork {
public:
    OrderedWork(size_t itemCount, size_t itemsAhead, const std::function<void(size_t, unsigned)>& produceItem)
        : count(itemCount), ahead(itemsAhead), produce(produceItem), produced(itemCount, 0) {}

    // A worker: produces items until none is left or the work stopped.
    void work(unsigned worker) {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stopped || next >= count || next < consumed + ahead; });
            if (stopped || next >= count) return;
            produceNext(lock, worker);
        }
    }

    // Waits until item i is produced, producing items meanwhile, as worker 0,
    // when one is free to start; false when the work stopped.
    bool waitFor(size_t i) {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopped && !produced[i]) {
            if (next < count && next < consumed + ahead)
                produceNext(lock, 0);
            else
                changed.wait(lock);
        }
        return !stopped;
    }

    void consumedUpTo(size_t end) {
        std::lock_guard<std::mutex> lock(mutex);
        consumed = end;
        changed.notify_all();
    }

    void stop(std::exception_ptr error) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!failure) failure = error;
        stopped = true;
        changed.notify_all();
    }

    std::exception_ptr error() {
        std::lock_guard<std::mutex> lock(mutex);
        return failure;
    }

private:
    // Claims the next item and produces it with the lock released.
    void produceNext(std::unique_lock<std::mutex>& lock, unsigned worker) {
        const size_t i = next++;
        lock.unlock();
        std::exception_ptr error;
        try {
            produce(i, worker);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error) {
            if (!failure) failure = error;
            stopped = true;
        } else {
            produced[i] = 1;
        }
        changed.notify_all();
    }

    const size_t count;
    const size_t ahead;
    const std::function<void(size_t, unsigned)>& produce;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<char> produced;
    size_t next = 0;
    size_t consumed = 0;
    bool stopped = false;
    std::exception_ptr failure;
};
}  // namespace

void runOrdered(size_t count, unsigned threads, size_t ahead, const std::function<void(size_t, unsigned)>& produce,
                const std::function<void(size_t)>& consume) {
    OrderedWork work(count, ahead < 1 ? 1 : ahead, produce);
    std::vector<std::thread> workers;
    try {
        for (unsigned t = 1; t < threads && t < count; ++t) workers.emplace_back([&work, t] { work.work(t); });
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones started, and this one, do it all.
    } catch (...) {
        work.stop(std::current_exception());
    }
    for (size_t i = 0; i < count; ++i) {
        if (!work.waitFor(i)) break;
        try {
            consume(i);
        } catch (...) {
            work.stop(std::current_exception());
            break;
        }
        work.consumedUpTo(i + 1);
    }
    for (std::thread& worker : workers) worker.join();
    if (std::exception_ptr error = work.error()) std::rethrow_exception(error);
}

}  // namespace kestrav
