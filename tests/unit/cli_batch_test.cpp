#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/BatchMessage.h"
#include "cli/BatchPlan.h"
#include "cli/BatchReport.h"

using namespace kestrav;

namespace {

TEST(BatchPlan, EachInputIsWrittenUnderItsNameWithoutTheLastExtension) {
    EXPECT_EQ(sceneNameFor("models/ship.3ds"), "ship.iv");
    EXPECT_EQ(sceneNameFor("ship.v2.3DS"), "ship.v2.iv");
    EXPECT_EQ(sceneNameFor("/a.b/ship"), "ship.iv");
    EXPECT_EQ(sceneNameFor(".hidden"), ".hidden.iv");

    const BatchPlan plan("out//", {"a/one.3ds", "two.3DS"});
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan.output(0), "out/one.iv");
    EXPECT_EQ(plan.output(1), "out/two.iv");
    EXPECT_TRUE(plan.clashes().empty());
    EXPECT_EQ(BatchPlan("/", {"x.3ds"}).output(0), "/x.iv");
}

TEST(BatchPlan, EveryInputThatWouldOverwriteAnEarlierOneIsNamedWithIt) {
    const BatchPlan plan("out", {"a/x.3ds", "y.3ds", "b/x.3DS", "a/x.3ds"});
    EXPECT_EQ(plan.clashes(), (std::vector<std::string>{
                                  "\"a/x.3ds\" and \"b/x.3DS\" would both be written to \"out/x.iv\".",
                                  "\"a/x.3ds\" and \"a/x.3ds\" would both be written to \"out/x.iv\".",
                              }));
}

TEST(BatchPlan, AModelThatWouldBeReplacedByItsOwnSceneIsRefused) {
    const std::string folder = testing::TempDir() + "batch-plan-self";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/model.iv") << "a 3DS model named like a scene";
    const BatchPlan plan(folder, {folder + "/model.iv", folder + "/other.3ds"});
    EXPECT_EQ(plan.clashes(),
              (std::vector<std::string>{"\"" + folder + "/model.iv\" would be written over itself."}));
}

// -u skips a model whose scene is as new as it or newer, to the nanosecond.
TEST(BatchPlan, ASceneIsUpToDateWhenNoOlderThanItsModel) {
    const std::string folder = testing::TempDir() + "batch-plan-ages";
    std::filesystem::create_directories(folder + "/out");
    const auto make = [&](const std::string& path, long seconds, long nanoseconds) {
        std::ofstream(folder + "/" + path) << "x";
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, (folder + "/" + path).c_str(), times, 0), 0);
    };
    make("newer.3ds", 1000, 5), make("out/newer.iv", 1001, 0);
    make("same.3ds", 1000, 5), make("out/same.iv", 1000, 5);
    make("older.3ds", 1000, 5), make("out/older.iv", 1000, 4);
    make("unwritten.3ds", 1000, 5);
    make("out/gone.iv", 1001, 0);
    std::vector<std::string> models;
    for (const char* name : {"newer", "same", "older", "unwritten", "gone"})
        models.push_back(folder + "/" + name + ".3ds");
    const BatchPlan plan(folder + "/out", models);
    EXPECT_TRUE(plan.upToDate(0));
    EXPECT_TRUE(plan.upToDate(1));
    EXPECT_FALSE(plan.upToDate(2));
    EXPECT_FALSE(plan.upToDate(3));
    EXPECT_FALSE(plan.upToDate(4));
}

TEST(BatchReport, LinesNameTheirFileAndTheSummaryCountsEachEnd) {
    BatchReport report(4, 0);
    EXPECT_EQ(report.fileDone("m/a.3ds", FileEnd::Converted, {}, 0.1), "");
    EXPECT_EQ(report.fileDone("m/b.3ds", FileEnd::ConvertedWithDamage, {"Warning: one", "Using two"}, 0.2),
              "m/b.3ds: Warning: one\nm/b.3ds: Using two\n");
    EXPECT_EQ(report.exitStatus(), 0);
    report.fileDone("m/c.3ds", FileEnd::Failed, {"gone"}, 0.3);
    report.fileDone("d.3ds", fileEndOf(Outcome::NotWritten), {}, 0.4);
    EXPECT_EQ(report.exitStatus(), 1);
    EXPECT_EQ(report.summary(2.25),
              "kestrav: 2 converted (1 with damaged parts skipped), 2 failed: m/c.3ds, d.3ds; 2.2 s\n");
    EXPECT_EQ(fileEndOf(Outcome::DamageEndedWalk), FileEnd::ConvertedWithDamage);
    EXPECT_EQ(fileEndOf(Outcome::Unreadable), FileEnd::Failed);
}

TEST(BatchReport, TheProgressLineIsRedrawnWithinTheTerminalsWidth) {
    BatchReport report(12, 20);
    EXPECT_EQ(report.fileDone("models/a.3ds", FileEnd::Converted, {}, 1.04), "\r\033[K[1/12] a.3ds 1.0 s");
    EXPECT_EQ(report.fileDone("models/a-rather-long-name.3ds", FileEnd::Failed, {"gone"}, 2.0),
              "\r\033[Kmodels/a-rather-long-name.3ds: gone\n\r\033[K[2/12] a-rather-lon");
    EXPECT_EQ(report.summary(3.0), "\r\033[Kkestrav: 1 converted, 1 failed: models/a-rather-long-name.3ds; 3.0 s\n");
}

// A message as a worker of another mind might send it: the words given, with
// the length before them that makes it whole.
std::string wordsOf(const std::vector<uint32_t>& words) {
    return std::string(reinterpret_cast<const char*>(words.data()), words.size() * sizeof(uint32_t));
}

std::string messageOf(const std::vector<uint32_t>& words, const std::string& tail = "") {
    const std::string body = wordsOf(words) + tail;
    return wordsOf({uint32_t(body.size())}) + body;
}

TEST(BatchMessage, ResultsArriveWholeAndInOrderWhateverTheyAreCutInto) {
    const FileResult first{2, Outcome::DamagedChunksSkipped, {"Warning: one", "", "Using \"x\" for \"X\"."}, true,
                           {3, 5, 1, 2}, 0x500000007ull};
    const FileResult second{0, Outcome::NotWritten, {}, false, {}, 0};
    const std::string bytes = encodeFileResult(first) + encodeFileResult(second);
    // Every cut of the stream, as a pipe may deliver it.
    for (size_t cut = 0; cut <= bytes.size(); ++cut) {
        std::string buffer = bytes.substr(0, cut);
        FileResult result;
        const MessageTake take = takeFileResult(buffer, 3, result);
        ASSERT_EQ(take, cut < encodeFileResult(first).size() ? MessageTake::Incomplete : MessageTake::Taken) << cut;
        buffer += bytes.substr(cut);
        if (take == MessageTake::Incomplete) {
            ASSERT_EQ(takeFileResult(buffer, 3, result), MessageTake::Taken);
        }
        EXPECT_EQ(result.index, 2u);
        EXPECT_EQ(result.status, Outcome::DamagedChunksSkipped);
        EXPECT_EQ(result.lines, first.lines);
        EXPECT_TRUE(result.built);
        EXPECT_EQ(result.figures.instances, 5u);
        EXPECT_EQ(result.figures.texturesMissing, 2u);
        EXPECT_EQ(result.microseconds, 0x500000007ull);
        ASSERT_EQ(takeFileResult(buffer, 3, result), MessageTake::Taken);
        EXPECT_EQ(result.index, 0u);
        EXPECT_EQ(result.status, Outcome::NotWritten);
        EXPECT_TRUE(result.lines.empty());
        EXPECT_FALSE(result.built);
        EXPECT_TRUE(buffer.empty());
    }
}

TEST(BatchMessage, DamagedAndHostileMessagesAreRefusedNotTrusted) {
    const uint32_t converted = uint32_t(Outcome::Converted);
    // A message whose scene-built flag, four figures and time are 0, followed by rest.
    auto plain = [](uint32_t index, uint32_t status, std::vector<uint32_t> rest, const std::string& tail = "") {
        std::vector<uint32_t> words = {index, status, 0, 0, 0, 0, 0, 0, 0};
        words.insert(words.end(), rest.begin(), rest.end());
        return messageOf(words, tail);
    };
    const std::vector<std::string> refused = {
        plain(3, converted, {0}),                                // index of no file of the batch
        plain(0xFFFFFFFF, converted, {0}),                       // nor this one
        plain(1, uint32_t(Outcome::OutOfMemory) + 1, {0}),       // an outcome kestrav does not have
        messageOf({1, converted, 2, 0, 0, 0, 0, 0, 0, 0}),       // built neither yes nor no
        messageOf({1, converted, 1, 3, 4}),                      // cut inside its figures
        messageOf({1, converted, 1, 3, 4, 5, 6, 7}),             // cut inside its time
        plain(1, converted, {}),                                 // cut before its line count
        plain(1, converted, {0x40000000}),                       // more lines than bytes to hold them
        plain(1, converted, {1, 6}, "short"),                    // a line longer than what is left
        plain(1, converted, {1, 0xFFFFFFF0}, "x"),               // a length that would wrap
        plain(1, converted, {0}, "more"),                        // bytes past its last line
        plain(1, converted, {2, 1}, "a"),                        // a line count past the lines there
        wordsOf({0x7FFFFFFF, 1, converted, 0, 0, 0, 0, 0, 0, 0, 0}),  // a length past any message
    };
    for (size_t i = 0; i < refused.size(); ++i) {
        std::string buffer = refused[i];
        FileResult result;
        EXPECT_EQ(takeFileResult(buffer, 3, result), MessageTake::Damaged) << i;
    }
    // The last good index of the batch, and a line that holds its own length's bytes.
    std::string buffer = plain(2, converted, {1, 4}, std::string("\4\0\0\0", 4));
    FileResult result;
    ASSERT_EQ(takeFileResult(buffer, 3, result), MessageTake::Taken);
    EXPECT_EQ(result.lines, std::vector<std::string>{std::string("\4\0\0\0", 4)});
}

}  // namespace
