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
                             Consume blockConsume)
    : threadsWanted(std::max<size_t>(threads, 1)),
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
        if (filled >= kBlocksBeforeThreads && workers.size() < workersWanted) startWorker();
        if (workers.empty()) {
            // Alone, the calling thread does each block's work as it comes.
            consumeOldest(lock);
        } else {
            workReady.notify_one();
            consumeFinished(lock);
            while (filled - consumed >= slots.size()) consumeOldest(lock);
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
    while (consumed < filled) consumeOldest(lock);
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

void BlockPipeline::runWorker() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        workReady.wait(lock, [this] { return stopping || taken < filled; });
        if (stopping) return;
        Slot& slot = slotOf(taken++);
        slot.state = State::Working;
        lock.unlock();
        try {
            work(slot.block);
        } catch (...) {
            lock.lock();
            if (!failure) failure = std::current_exception();
            stopping = true;
            workReady.notify_all();
            workDone.notify_one();
            return;
        }
        lock.lock();
        slot.state = State::Done;
        workDone.notify_one();
    }
}

void BlockPipeline::consumeOldest(std::unique_lock<std::mutex>& lock) {
    Slot& slot = slotOf(consumed);
    // Rather than wait for the workers, the calling thread works on the next
    // block none has taken, the oldest first.
    while (slot.state != State::Done && !failure && taken < filled) {
        Slot& next = slotOf(taken++);
        next.state = State::Working;
        lock.unlock();
        work(next.block);
        lock.lock();
        next.state = State::Done;
    }
    workDone.wait(lock, [&] { return slot.state == State::Done || failure; });
    if (failure) rethrowFailure(lock);
    lock.unlock();
    consume(slot.block);
    lock.lock();
    slot.state = State::Free;
    ++consumed;
}

void BlockPipeline::consumeFinished(std::unique_lock<std::mutex>& lock) {
    while (consumed < filled && slotOf(consumed).state == State::Done && !failure) consumeOldest(lock);
    if (failure) rethrowFailure(lock);
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
