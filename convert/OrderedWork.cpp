#include "convert/OrderedWork.h"

#include <system_error>
#include <utility>

namespace kestrav {

OrderedWork::OrderedWork(size_t itemCount, unsigned threads, size_t itemsAhead,
                         std::function<void(size_t, unsigned)> produceItem)
    : count(itemCount), ahead(itemsAhead < 1 ? 1 : itemsAhead), produce(std::move(produceItem)), produced(itemCount, 0) {
    try {
        for (unsigned t = 1; t < threads && t < count; ++t) workers.emplace_back([this, t] { work(t); });
    } catch (const std::system_error&) {
        // Fewer threads than asked for: the ones started, and the consumer's, do it all.
    } catch (...) {
        stopWorkers();
        throw;
    }
}

OrderedWork::~OrderedWork() { stopWorkers(); }

// A worker produces items until none is left or the work stopped.
void OrderedWork::work(unsigned worker) {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [&] { return stopped || next >= count || next < consumed + ahead; });
        if (stopped || next >= count) return;
        produceNext(lock, worker);
    }
}

void OrderedWork::take(size_t i) {
    std::unique_lock<std::mutex> lock(mutex);
    consumed = i;
    changed.notify_all();
    while (!failure && !produced[i]) {
        if (next < count && next < consumed + ahead)
            produceNext(lock, 0);
        else
            changed.wait(lock);
    }
    if (failure) {
        const std::exception_ptr thrown = failure;
        lock.unlock();
        stopWorkers();
        std::rethrow_exception(thrown);
    }
    if (i + 1 == count) {
        lock.unlock();
        stopWorkers();
    }
}

// Claims the next item and produces it with the lock released.
void OrderedWork::produceNext(std::unique_lock<std::mutex>& lock, unsigned worker) {
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

void OrderedWork::stopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopped = true;
    }
    changed.notify_all();
    for (std::thread& worker : workers) worker.join();
    workers.clear();
}

}  // namespace kestrav
