#include "convert/BlockPipeline.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <system_error>
#include <utility>

namespace kestrav {

namespace {
// Enough to keep every worker busy while the calling thread fills the next
// block and writes out the oldest; more only costs memory.
const size_t kBlocksPerThread = 2;
const size_t kMostBlocks = 64;
}  // namespace

BlockPipeline::BlockPipeline(size_t threads, size_t inputBytes, size_t outputBytes, Work blockWork,
                             Consume blockConsume, uint64_t blocksBeforeThreads)
    : threadsWanted(std::max<size_t>(threads, 1)),
      blocksBeforeWorkers(blocksBeforeThreads),
      inputSize(inputBytes),
      outputSize(outputBytes),
      work(std::move(blockWork)),
      consume(std::move(blockConsume)),
      slots(threadsWanted == 1 ? 1 : std::min(kBlocksPerThread * threadsWanted, kMostBlocks)),
      workersWanted(std::min(threadsWanted - 1, slots.size() - 1)) {
    workers.reserve(workersWanted);
    takeCurrent();
}

BlockPipeline::~BlockPipeline() { stopWorkers(); }

void BlockPipeline::takeCurrent() {
    Block& block = slotOf(filled).block;
    if (!block.input) {
        block.input.reset(new char[inputSize]);
        block.output.reset(new char[outputSize]);
    }
    block.inputUsed = 0;
    block.outputUsed = 0;
    current_ = &block;
}

void BlockPipeline::handOn() {
    {
        std::unique_lock<std::mutex> lock(mutex);
        slotOf(filled).state = State::Filled;
        ++filled;
        if (filled >= blocksBeforeWorkers && workers.size() < workersWanted) startWorker();
        if (workers.empty()) {
            // Alone, the calling thread works on each block and consumes it as it comes.
            workNext(lock);
            consumeOldest(lock);
        } else {
            if (failure) rethrowFailure(lock);
            workReady.notify_one();
            while (filled - consumed >= slots.size()) helpOrWait(lock);
        }
    }
    takeCurrent();
}

void BlockPipeline::finish() {
    std::unique_lock<std::mutex> lock(mutex);
    if (current_->inputUsed > 0) {
        slotOf(filled).state = State::Filled;
        ++filled;
        workReady.notify_one();
    }
    while (consumed < filled) helpOrWait(lock);
    lock.unlock();
    stopWorkers();
}

// One more worker for each block handed on, so that starting them (tens of
// microseconds each) never costs more than the work they take. Each starts
// with every signal blocked: the program's handlers run on its own threads
// only, as they would without these.
void BlockPipeline::startWorker() {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        workers.emplace_back([this] { runWorker(); });
    } catch (const std::system_error&) {
        // The system has no more threads to give: those started share the work.
        workersWanted = workers.size();
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// A worker consumes the oldest block as soon as it is done, so the calling
// thread is left to fill blocks, and works on blocks meanwhile.
void BlockPipeline::runWorker() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        workReady.wait(lock, [this] { return stopping || oldestReady() || taken < filled; });
        if (stopping) return;
        try {
            if (oldestReady())
                consumeOldest(lock);
            else
                workNext(lock);
        } catch (...) {
            if (!lock.owns_lock()) lock.lock();
            if (!failure) failure = std::current_exception();
            stopping = true;
            workReady.notify_all();
            workDone.notify_one();
            return;
        }
    }
}

void BlockPipeline::workNext(std::unique_lock<std::mutex>& lock) {
    Slot& slot = slotOf(taken++);
    slot.state = State::Working;
    lock.unlock();
    work(slot.block);
    lock.lock();
    slot.state = State::Done;
    workDone.notify_one();
}

void BlockPipeline::consumeOldest(std::unique_lock<std::mutex>& lock) {
    Slot& slot = slotOf(consumed);
    consuming = true;
    lock.unlock();
    consume(slot.block);
    lock.lock();
    consuming = false;
    slot.state = State::Free;
    ++consumed;
    workDone.notify_one();
}

// The calling thread consumes only when no worker is: rather than wait for
// them, it frees the slot it needs itself, or works on the next block none
// has taken.
void BlockPipeline::helpOrWait(std::unique_lock<std::mutex>& lock) {
    if (failure) rethrowFailure(lock);
    if (oldestReady()) {
        consumeOldest(lock);
        // The next one may be done already, with the workers asleep.
        if (oldestReady()) workReady.notify_one();
    } else if (taken < filled) {
        workNext(lock);
        if (oldestReady()) workReady.notify_one();
    } else {
        workDone.wait(lock);
    }
}

void BlockPipeline::stopWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    workReady.notify_all();
    for (std::thread& worker : workers) worker.join();
    workers.clear();
}

void BlockPipeline::rethrowFailure(std::unique_lock<std::mutex>& lock) {
    const std::exception_ptr thrown = failure;
    lock.unlock();
    stopWorkers();
    std::rethrow_exception(thrown);
}

}  // namespace kestrav
