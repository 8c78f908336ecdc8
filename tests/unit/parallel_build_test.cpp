// A model big enough to be built on several threads: the same scene and the
// same messages in the same order at 1, 2 and 7 threads, whether the scene is
// built whole or as it is written, and memory running out on a worker ends the
// conversion as it does on the calling thread.
//
// This program replaces operator new to see, and to fail, the allocations of
// threads other than the test's own.

#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "convert/Conversion.h"
#include "kestrav/kestrav.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/HeightField.h"

using namespace kestrav;

namespace {

std::atomic<bool> watching{false};
std::atomic<bool> failOtherThreads{false};
std::atomic<long> otherThreadAllocations{0};
std::atomic<long> otherThreadFailures{0};
std::thread::id testThread;

}  // namespace

void* operator new(std::size_t size) {
    if (watching.load() && std::this_thread::get_id() != testThread) {
        ++otherThreadAllocations;
        if (failOtherThreads.load() && size >= 4096) {
            ++otherThreadFailures;
            throw std::bad_alloc();
        }
    }
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

// The replaced operator new takes its blocks from malloc; GCC sees only the
// names and would call the pairing a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace {

// Watches the allocations of other threads while it lives.
struct ThreadWatch {
    explicit ThreadWatch(bool failThem) {
        testThread = std::this_thread::get_id();
        otherThreadAllocations = 0;
        otherThreadFailures = 0;
        failOtherThreads = failThem;
        watching = true;
    }
    ~ThreadWatch() {
        watching = false;
        failOtherThreads = false;
    }
};

// Twelve bumpy sheets of 2,400 faces, in three bands of materials (two of them
// textured with images no folder holds, each mesh its own), with one to three
// smoothing groups per face and some faces in none.
Bytes parallelModel() {
    std::mt19937 random(20261209);
    Chunk3ds mdata(MDATA);
    mdata.add(material("Stone", 2));
    for (int i = 0; i < 12; ++i) {
        const std::string image = "missing" + std::to_string(i) + ".png";
        mdata.add(material("Paint" + std::to_string(i), i % 2 ? 1 : 3, {mapChunk(MAT_TEXMAP, image)}));
    }
    for (int i = 0; i < 12; ++i) {
        const float origin[3] = {float(i % 4) * 50.0f, float(i / 4) * 50.0f, 0.0f};
        const HeightField grid = heightField(41, 31, origin, 2);
        const uint32_t faceCount = uint32_t(grid.faces.size());
        std::vector<uint32_t> masks;
        for (uint32_t f = 0; f < faceCount; ++f) {
            uint32_t mask = 0;
            for (int bits = int(random() % 4); bits > 0; --bits) mask |= 1u << (random() % 6);
            masks.push_back(mask);
        }
        const Chunk3ds faces = faceArray(grid.faces, {materialGroup("Stone", faceRange(0, faceCount / 3)),
                                                      materialGroup("Paint" + std::to_string(i),
                                                                    faceRange(faceCount / 3, faceCount)),
                                                      smoothGroup(masks)});
        mdata.add(meshObject("Sheet" + std::to_string(i), {pointArray(grid.vertices), texVerts(grid.texCoords), faces}));
    }
    return Chunk3ds(M3DMAGIC).add(mdata).bytes();
}

struct Built {
    Outcome status = Outcome::Unreadable;
    std::vector<std::string> messages;  // kind, then text
    std::string scene;
    long otherThreadAllocations = 0;
    // The same, with the scene built as it is written.
    Outcome streamedStatus = Outcome::Unreadable;
    std::vector<std::string> streamedMessages;
    std::string streamedScene;
};

std::vector<std::string> linesOf(const Conversion& conversion) {
    std::vector<std::string> lines;
    for (const Message& m : conversion.messages) lines.push_back(std::to_string(int(m.kind)) + " " + m.text);
    return lines;
}

Built convertAt(const std::string& model, unsigned threads) {
    Options options;
    options.threads = threads;
    Built built;
    {
        const ThreadWatch watch(false);
        Conversion conversion = convert(model, options);
        built.otherThreadAllocations = otherThreadAllocations;
        built.status = conversion.status;
        built.messages = linesOf(conversion);
        if (!conversion.root()) return built;
        const std::string path = scratchDirectory() + "/parallel-" + std::to_string(threads) + ".iv";
        EXPECT_TRUE(write(conversion.root(), path));
        built.scene = readTextFile(path);
    }
    const std::string path = scratchDirectory() + "/streamed-" + std::to_string(threads) + ".iv";
    const Conversion streamed =
        convertToFileWatched(model, path, options, nullptr, nullptr, nullptr, nullptr, SceneUse::WrittenOnly);
    built.streamedStatus = streamed.status;
    built.streamedMessages = linesOf(streamed);
    built.streamedScene = readTextFile(path);
    return built;
}

}  // namespace

TEST(ParallelBuild, TwoOrSevenThreadsGiveTheSceneAndMessagesOfOne) {
    const Bytes whole = parallelModel();
    // Cut inside the last mesh: a damage warning first, then a note for each
    // missing image in mesh order.
    const Bytes cut(whole.begin(), whole.end() - 40);
    for (const Bytes* bytes : {&whole, &cut}) {
        const std::string model = writeScratchFile("parallel.3ds", *bytes);
        const Built one = convertAt(model, 1);
        // Two threads reuse each instance's buffers a few instances later.
        const Built two = convertAt(model, 2);
        const Built seven = convertAt(model, 7);
        EXPECT_EQ(one.otherThreadAllocations, 0);
        EXPECT_GT(seven.otherThreadAllocations, 0) << "the model was built on the calling thread alone";
        ASSERT_FALSE(one.scene.empty());
        for (const Built* many : {&two, &seven}) {
            EXPECT_EQ(many->status, one.status);
            EXPECT_EQ(many->messages, one.messages);
            EXPECT_TRUE(many->scene == one.scene) << "the scenes differ";
        }
        for (const Built* any : {&one, &two, &seven}) {
            EXPECT_EQ(any->streamedStatus, one.status);
            EXPECT_EQ(any->streamedMessages, one.messages);
            EXPECT_TRUE(any->streamedScene == one.scene) << "the scene built as it is written differs";
        }
        const bool damaged = bytes == &cut;
        EXPECT_EQ(one.status, damaged ? Outcome::DamageEndedWalk : Outcome::Converted);
        ASSERT_GE(one.messages.size(), 3u);
        EXPECT_EQ(one.messages[0].find("0 "), damaged ? 0u : std::string::npos) << one.messages[0];
        EXPECT_NE(one.messages[damaged ? 1 : 0].find("missing0.png"), std::string::npos);
        EXPECT_NE(one.messages[damaged ? 2 : 1].find("missing1.png"), std::string::npos);
    }
}

TEST(ParallelBuild, MemoryRunningOutOnAWorkerWhileWritingKeepsTheOldSceneAndLeavesNoTemporary) {
    const std::string model = writeScratchFile("parallel.3ds", parallelModel());
    std::filesystem::create_directories(scratchDirectory() + "/streamed-out");
    const std::string out = writeScratchFile("streamed-out/scene.iv", Bytes{'o', 'l', 'd', '\n'});
    Options options;
    options.threads = 7;
    for (int attempt = 0; attempt < 5; ++attempt) {
        Conversion conversion;
        {
            const ThreadWatch watch(true);
            conversion = convertToFileWatched(model, out, options, nullptr, nullptr, nullptr, nullptr,
                                              SceneUse::WrittenOnly);
        }
        if (otherThreadFailures == 0) continue;
        EXPECT_EQ(conversion.status, Outcome::OutOfMemory);
        EXPECT_EQ(conversion.root(), nullptr);
        ASSERT_EQ(conversion.messages.size(), 1u);
        EXPECT_EQ(conversion.messages[0].text, "not enough memory to convert \"" + model + "\"");
        EXPECT_EQ(readTextFile(out), "old\n");
        size_t others = 0;
        for (const auto& entry : std::filesystem::directory_iterator(scratchDirectory() + "/streamed-out"))
            others += entry.path() != out;
        EXPECT_EQ(others, 0u) << "a temporary file was left";
        return;
    }
    FAIL() << "no worker allocated anything in five conversions";
}

TEST(ParallelBuild, MemoryRunningOutOnAWorkerGivesTheOutOfMemoryLineAndNoScene) {
    const std::string model = writeScratchFile("parallel.3ds", parallelModel());
    Options options;
    options.threads = 7;
    // A worker may, on a busy machine, start only once the calling thread has
    // done everything; then nothing failed and the scene is whole.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const ThreadWatch watch(true);
        const Conversion conversion = convert(model, options);
        if (otherThreadFailures == 0) {
            EXPECT_EQ(conversion.status, Outcome::Converted);
            continue;
        }
        EXPECT_EQ(conversion.status, Outcome::OutOfMemory);
        EXPECT_EQ(conversion.root(), nullptr);
        ASSERT_EQ(conversion.messages.size(), 1u);
        EXPECT_EQ(conversion.messages[0].kind, Message::Kind::Error);
        EXPECT_EQ(conversion.messages[0].text, "not enough memory to convert \"" + model + "\"");
        return;
    }
    FAIL() << "no worker allocated anything in five conversions";
}
