#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrav {

// Blocks filled one after another on the calling thread, each turned into its
// output by work on any of the pipeline's threads, and handed to consume in
// the order they were filled, one at a time, on whichever of the threads is
// free: the calling thread goes on filling while a worker writes. At most a
// fixed number of blocks are in flight, so memory stays bounded whatever the
// input's size.
//
// Worker threads start only once blocks enough to gain from them have been
// filled (until then the calling thread does the work of each block and
// consumes it as it is handed on), one with each block handed on after that,
// and all of them are joined before finish or the destructor returns. An
// exception thrown by work or consume on a worker ends the pipeline: finish
// throws it on the calling thread once every worker is joined, and no later
// block is consumed.
class BlockPipeline {
public:
    struct Block {
        std::unique_ptr<char[]> input;
        size_t inputUsed = 0;
        std::unique_ptr<char[]> output;
        size_t outputUsed = 0;
    };
    using Work = std::function<void(Block&)>;
    using Consume = std::function<void(const Block&)>;

    // threads: those the pipeline may use, the calling thread included (1: no
    // worker). Each block gets inputSize and outputSize bytes. Workers start
    // once blocksBeforeThreads blocks are handed on.
    BlockPipeline(size_t threads, size_t inputSize, size_t outputSize, Work work, Consume consume,
                  uint64_t blocksBeforeThreads = kBlocksBeforeThreads);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // The block to fill, empty; it stays the same until handOn.
    Block& current() { return *current_; }
    // Hands the current block on, and makes an empty one current; may do the
    // work of older blocks and consume them meanwhile.
    void handOn();
    // Hands on the current block if it holds anything, and consumes every
    // block; rethrows what a worker threw.
    void finish();

    // Workers start by default once this many blocks are handed on: below
    // it, starting threads costs more than the work they would share.
    static const uint64_t kBlocksBeforeThreads = 4;

private:
    enum class State { Free, Filled, Working, Done };
    struct Slot {
        Block block;
        State state = State::Free;
    };

    Slot& slotOf(uint64_t index) { return slots[size_t(index % slots.size())]; }
    void startWorker();
    void runWorker();
    // The oldest block in flight is done and no thread is consuming.
    bool oldestReady() { return !consuming && consumed < filled && slotOf(consumed).state == State::Done; }
    // Consumes the oldest block, which is ready, with the lock released.
    void consumeOldest(std::unique_lock<std::mutex>& lock);
    // Works on the next block none has taken, with the lock released.
    void workNext(std::unique_lock<std::mutex>& lock);
    // On the calling thread: does what it can, consuming first, or waits for
    // the workers; rethrows what a worker threw.
    void helpOrWait(std::unique_lock<std::mutex>& lock);
    void takeCurrent();
    void stopWorkers();
    [[noreturn]] void rethrowFailure(std::unique_lock<std::mutex>& lock);

    const size_t threadsWanted;
    const uint64_t blocksBeforeWorkers;
    const size_t inputSize, outputSize;
    const Work work;
    const Consume consume;
    std::vector<Slot> slots;
    size_t workersWanted;
    Block* current_ = nullptr;

    std::mutex mutex;
    std::condition_variable workReady, workDone;
    uint64_t filled = 0;    // blocks handed on
    uint64_t taken = 0;     // blocks whose work has started
    uint64_t consumed = 0;  // blocks consumed
    bool consuming = false;
    bool stopping = false;
    std::exception_ptr failure;
    std::vector<std::thread> workers;
};

}  // namespace kestrav
