// BlockPipeline: blocks come out in the order they went in, one at a time,
// whatever thread worked on them or consumes them, small inputs start no
// thread, and a worker's failure reaches the calling thread once every worker
// has ended.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "convert/BlockPipeline.h"

using namespace kestrav;

namespace {

struct Record {
    std::mutex mutex;
    std::set<std::thread::id> workThreads;
    std::vector<uint64_t> consumed;
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> consuming{0};
    std::atomic<bool> overlapped{false};
};

uint64_t numberIn(const char* bytes) {
    uint64_t number;
    std::memcpy(&number, bytes, sizeof number);
    return number;
}

// Each block holds its number; its work writes the number's square, slower
// for some blocks so that workers finish out of order.
BlockPipeline::Work squaring(Record& record, uint64_t failAt = ~uint64_t(0)) {
    return [&record, failAt](BlockPipeline::Block& block) {
        const uint64_t n = numberIn(block.input.get());
        const bool worker = std::this_thread::get_id() != record.caller;
        {
            std::lock_guard<std::mutex> lock(record.mutex);
            record.workThreads.insert(std::this_thread::get_id());
        }
        if (worker && n >= failAt) throw std::bad_alloc();
        if (n % 7 == 3) std::this_thread::sleep_for(std::chrono::microseconds(300));
        const uint64_t square = n * n;
        std::memcpy(block.output.get(), &square, sizeof square);
        block.outputUsed = sizeof square;
    };
}

BlockPipeline::Consume collecting(Record& record) {
    return [&record](const BlockPipeline::Block& block) {
        if (record.consuming.fetch_add(1) != 0) record.overlapped = true;
        const uint64_t square = numberIn(block.output.get());
        // A slow write now and then, for another block to be done meanwhile.
        if (square % 5 == 1) std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_EQ(block.outputUsed, sizeof(uint64_t));
        record.consumed.push_back(square);
        record.consuming.fetch_sub(1);
    };
}

void fill(BlockPipeline& pipeline, uint64_t n) {
    std::memcpy(pipeline.current().input.get(), &n, sizeof n);
    pipeline.current().inputUsed = sizeof n;
}

TEST(BlockPipeline, BlocksAreConsumedInTheirOrderWhateverThreadWorkedOnThem) {
    for (size_t threads : {1, 2, 4, 7}) {
        Record record;
        {
            BlockPipeline pipeline(threads, 16, 16, squaring(record), collecting(record));
            for (uint64_t n = 0; n < 300; ++n) {
                fill(pipeline, n);
                if (n + 1 < 300) pipeline.handOn();
            }
            pipeline.finish();
        }
        ASSERT_EQ(record.consumed.size(), 300u) << threads;
        for (uint64_t n = 0; n < 300; ++n) ASSERT_EQ(record.consumed[n], n * n) << threads;
        EXPECT_FALSE(record.overlapped) << threads;
        if (threads == 1)
            EXPECT_EQ(record.workThreads, std::set<std::thread::id>{record.caller});
        else
            EXPECT_GT(record.workThreads.size(), 1u) << threads;
    }
}

TEST(BlockPipeline, FewBlocksStartNoThread) {
    Record record;
    {
        BlockPipeline pipeline(8, 16, 16, squaring(record), collecting(record));
        for (uint64_t n = 0; n + 1 < BlockPipeline::kBlocksBeforeThreads; ++n) {
            fill(pipeline, n + 5);
            pipeline.handOn();
        }
        pipeline.finish();
    }
    EXPECT_EQ(record.consumed, (std::vector<uint64_t>{25, 36, 49}));
    EXPECT_EQ(record.workThreads, std::set<std::thread::id>{record.caller});
}

// Memory running out on a worker ends the pipeline on the calling thread: the
// blocks consumed are the first ones, in order, and none after the failure.
TEST(BlockPipeline, WorkerOutOfMemoryIsThrownOnTheCallingThread) {
    Record record;
    bool thrown = false;
    try {
        BlockPipeline pipeline(4, 16, 16, squaring(record, 40), collecting(record));
        for (uint64_t n = 0; n < 2000; ++n) {
            fill(pipeline, n);
            pipeline.handOn();
        }
        pipeline.finish();
    } catch (const std::bad_alloc&) {
        thrown = true;
    }
    EXPECT_TRUE(thrown);
    ASSERT_LT(record.consumed.size(), 2000u);
    for (uint64_t n = 0; n < record.consumed.size(); ++n) ASSERT_EQ(record.consumed[n], n * n);
    EXPECT_GT(record.workThreads.size(), 1u);
}

}  // namespace
