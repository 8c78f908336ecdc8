#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/BatchRun.h"
#include "cli/CommandLine.h"

using namespace kestrav;

namespace {

struct Parsed {
    CommandLineVerdict verdict;
    ConverterOptions options;
};

Parsed parse(const std::vector<const char*>& arguments) {
    std::vector<const char*> argv{"kestrav"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Parsed parsed{CommandLineVerdict::Ok, ConverterOptions()};
    parsed.verdict = decideCommandLine(int(argv.size()), argv.data(), parsed.options);
    return parsed;
}

int flagCount(const ConverterOptions& o) {
    return o.flatShading + o.noTextures + o.examineViewer + o.twoSided + o.viewOnly + o.bumpMaps + o.binary +
           o.animation;
}

TEST(CommandLine, MalformedLinesAreRejected) {
    const std::vector<std::vector<const char*>> lines = {
        {},                                // no arguments at all
        {"-e"},                            // options but no input file
        {"-", "-f"},                       // still no input file
        {"-x", "model.3ds"},               // unknown letter
        {"-eq", "model.3ds"},              // unknown letter after a good one
        {"-E", "model.3ds"},               // letters are case-sensitive
        {"a.3ds", "b.iv", "c.iv"},         // three file names
        {"model.3ds", "-v"},               // option after the file name
        {"model.3ds", "-"},                // a lone dash after the file name too
        {"model.3ds", "out.iv", "-v"},     // option after both file names
        {"-e", "model.3ds", "-f", "o.iv"}, // an option group between the names
    };
    for (const auto& line : lines) {
        std::string shown;
        for (const char* a : line) shown += std::string(" [") + a + "]";
        EXPECT_EQ(parse(line).verdict, CommandLineVerdict::Malformed) << "line:" << shown;
    }
}

TEST(CommandLine, EachMalformedLineNamesItsFault) {
    struct Case {
        std::vector<const char*> line;
        CommandLineFault::Kind kind;
        std::string argument;
    };
    const std::vector<Case> cases = {
        {{}, CommandLineFault::NoInputFile, ""},
        {{"-e", "--"}, CommandLineFault::NoInputFile, ""},
        {{"-eq", "m"}, CommandLineFault::UnknownOption, "-q"},
        {{"--helpme", "m"}, CommandLineFault::UnknownOption, "--helpme"},
        {{"m", "o", "-v"}, CommandLineFault::OptionAfterFileName, "-v"},
        {{"m", "-", "o"}, CommandLineFault::LoneDash, ""},
        {{"-d", "a", "-sd", "b", "m"}, CommandLineFault::RepeatedFolder, ""},
        {{"a", "b", "c", "d"}, CommandLineFault::TooManyFileNames, "c"},
        {{"--", "a", "b", "-c"}, CommandLineFault::TooManyFileNames, "-c"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv{"kestrav"};
        argv.insert(argv.end(), c.line.begin(), c.line.end());
        ConverterOptions options;
        CommandLineFault fault;
        EXPECT_EQ(decideCommandLine(int(argv.size()), argv.data(), options, &fault), CommandLineVerdict::Malformed);
        EXPECT_EQ(fault.kind, c.kind) << c.argument;
        EXPECT_EQ(fault.argument, c.argument);
    }
}

TEST(CommandLine, LongOptionsAndTheEndOfOptions) {
    EXPECT_EQ(parse({"--version"}).verdict, CommandLineVerdict::Version);
    EXPECT_EQ(parse({"-f", "--help", "m"}).verdict, CommandLineVerdict::Help);
    // After -- nothing is an option, not even -h or --version.
    const Parsed p = parse({"-f", "--", "-h", "--version"});
    ASSERT_EQ(p.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(p.options.inputPath, "-h");
    EXPECT_EQ(p.options.outputPath, "--version");
    EXPECT_EQ(flagCount(p.options), 1);
}

TEST(CommandLine, HelpWinsWhereverItStandsBeforeAnUnknownLetter) {
    EXPECT_EQ(parse({"-h"}).verdict, CommandLineVerdict::Help);
    EXPECT_EQ(parse({"-h", "model.3ds"}).verdict, CommandLineVerdict::Help);
    EXPECT_EQ(parse({"-eh", "model.3ds", "out.iv"}).verdict, CommandLineVerdict::Help);
    EXPECT_EQ(parse({"-hx"}).verdict, CommandLineVerdict::Help);
    // The parse stops at the first bad letter, so an h after it is never seen.
    EXPECT_EQ(parse({"-xh", "model.3ds"}).verdict, CommandLineVerdict::Malformed);
    // After a file name -h is not an option but a misplaced argument.
    EXPECT_EQ(parse({"model.3ds", "-h"}).verdict, CommandLineVerdict::Malformed);
}

TEST(CommandLine, CombinedLettersSetEachFlag) {
    const Parsed p = parse({"-efs", "model.3ds", "out.iv"});
    ASSERT_EQ(p.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(p.options.examineViewer, 1);
    EXPECT_EQ(p.options.flatShading, 1);
    EXPECT_EQ(p.options.twoSided, 1);
    EXPECT_EQ(flagCount(p.options), 3);
    EXPECT_EQ(p.options.inputPath, "model.3ds");
    EXPECT_EQ(p.options.outputPath, "out.iv");

    const Parsed all = parse({"-tb", "-vfse", "m.3ds"});
    ASSERT_EQ(all.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(all.options.noTextures, 1);
    EXPECT_EQ(all.options.bumpMaps, 1);
    EXPECT_EQ(all.options.viewOnly, 1);
    EXPECT_EQ(flagCount(all.options), 6);
}

TEST(CommandLine, EachLetterSetsItsOwnField) {
    EXPECT_EQ(parse({"-b", "m"}).options.bumpMaps, 1);
    EXPECT_EQ(parse({"-e", "m"}).options.examineViewer, 1);
    EXPECT_EQ(parse({"-f", "m"}).options.flatShading, 1);
    EXPECT_EQ(parse({"-s", "m"}).options.twoSided, 1);
    EXPECT_EQ(parse({"-t", "m"}).options.noTextures, 1);
    EXPECT_EQ(parse({"-v", "m"}).options.viewOnly, 1);
    EXPECT_EQ(parse({"-B", "m"}).options.binary, true);
    EXPECT_EQ(ConverterOptions().binary, false);
    EXPECT_EQ(parse({"-a", "m"}).options.animation, 1);
    for (const char* letter : {"-a", "-b", "-e", "-f", "-s", "-t", "-v", "-B"})
        EXPECT_EQ(flagCount(parse({letter, "m"}).options), 1) << letter;
}

TEST(CommandLine, RepeatedLettersAndGroupsAreHarmless) {
    const Parsed twice = parse({"-v", "-v", "model.3ds"});
    const Parsed once = parse({"-v", "model.3ds"});
    ASSERT_EQ(twice.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(twice.options.viewOnly, 1);
    EXPECT_EQ(flagCount(twice.options), flagCount(once.options));
    EXPECT_EQ(parse({"-vvv", "model.3ds"}).options.viewOnly, 1);
}

TEST(CommandLine, LoneDashIsRefusedUnlessTheOptionsHaveEnded) {
    EXPECT_EQ(parse({"-", "model.3ds"}).verdict, CommandLineVerdict::Malformed);
    EXPECT_EQ(parse({"-d", "out", "model.3ds", "-"}).verdict, CommandLineVerdict::Malformed);
    const Parsed p = parse({"--", "-"});
    ASSERT_EQ(p.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(p.options.inputPath, "-");
    EXPECT_EQ(p.options.outputPath, "");
}

TEST(CommandLine, OneFileNameMeansStandardOutput) {
    const Parsed p = parse({"model.3ds"});
    ASSERT_EQ(p.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(p.options.inputPath, "model.3ds");
    EXPECT_EQ(p.options.outputPath, "");
    EXPECT_EQ(flagCount(p.options), 0);
}

TEST(CommandLine, EmptyStringIsTakenAsTheInputFile) {
    const Parsed p = parse({""});
    ASSERT_EQ(p.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(p.options.inputPath, "");

    const Parsed both = parse({"", "out.iv"});
    ASSERT_EQ(both.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(both.options.inputPath, "");
    EXPECT_EQ(both.options.outputPath, "out.iv");
}

TEST(CommandLine, ParsingKeepsTheProgramPath) {
    ConverterOptions options;
    options.programPath = "/usr/bin/kestrav";
    const char* argv[] = {"kestrav", "-f", "m.3ds"};
    ASSERT_EQ(decideCommandLine(3, argv, options), CommandLineVerdict::Ok);
    EXPECT_EQ(options.programPath, "/usr/bin/kestrav");
}

}  // namespace

namespace {

TEST(CommandLineBatch, FolderAndWorkerCountTakeTheRestOfTheGroupOrTheNextArgument) {
    const Parsed p = parse({"-fd", "out", "-j2", "a.3ds", "b.3ds"});
    ASSERT_EQ(p.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(p.options.batchFolder, "out");
    EXPECT_EQ(p.options.threads, 2u);
    EXPECT_EQ(p.options.flatShading, 1);
    EXPECT_EQ(p.options.batchInputs, (std::vector<std::string>{"a.3ds", "b.3ds"}));
    EXPECT_EQ(p.options.inputPath, "");

    const Parsed joined = parse({"-dout/", "-j", "3", "-t", "m.3ds"});
    ASSERT_EQ(joined.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(joined.options.batchFolder, "out/");
    EXPECT_EQ(joined.options.threads, 3u);
    EXPECT_EQ(joined.options.noTextures, 1);

    // One conversion takes its thread count too.
    const Parsed single = parse({"-j7", "m.3ds", "m.iv"});
    ASSERT_EQ(single.verdict, CommandLineVerdict::Ok);
    EXPECT_EQ(single.options.threads, 7u);
    EXPECT_EQ(single.options.outputPath, "m.iv");
}

// Workers first, one per model up to the threads; what is left over becomes
// threads within each, never more than asked for in all.
TEST(CommandLineBatch, ThreadsAreSharedBetweenWorkersAndTheirThreads) {
    const struct {
        size_t threads, models, workers;
        unsigned perWorker;
    } cases[] = {{2, 1000, 2, 1}, {8, 3, 3, 2}, {8, 1, 1, 8}, {7, 2, 2, 3}, {1, 5, 1, 1}, {4, 0, 1, 4}};
    for (const auto& c : cases) {
        const ProcessorShare share = shareProcessors(c.threads, c.models);
        EXPECT_EQ(share.workers, c.workers) << c.threads << " threads, " << c.models << " models";
        EXPECT_EQ(share.threadsPerWorker, c.perWorker) << c.threads << " threads, " << c.models << " models";
        EXPECT_LE(share.workers * share.threadsPerWorker, c.threads);
    }
}

TEST(CommandLineBatch, BatchLinesTheViewerOrAnyInputCannotServeAreRejected) {
    const std::vector<std::vector<const char*>> lines = {
        {"-d", "out"},                     // no inputs
        {"-d"},                            // no folder
        {"-d", "", "m.3ds"},               // an empty folder name
        {"-v", "-d", "out", "m.3ds"},      // the viewer shows one model
        {"-d", "out", "-e", "m.3ds"},
        {"-d", "out", "a.3ds", "-f"},      // an option after the inputs
        {"-j", "0", "-d", "out", "m.3ds"},
        {"-j", "two", "-d", "out", "m.3ds"},
        {"-j3x", "-d", "out", "m.3ds"},
    };
    for (const auto& line : lines) {
        std::string shown;
        for (const char* a : line) shown += std::string(" [") + a + "]";
        EXPECT_EQ(parse(line).verdict, CommandLineVerdict::Malformed) << shown;
    }
    // Help still wins among the options; a value is never read as a letter.
    EXPECT_EQ(parse({"-d", "out", "-h"}).verdict, CommandLineVerdict::Help);
    EXPECT_EQ(parse({"-d", "-h", "m.3ds"}).options.batchFolder, "-h");
}

}  // namespace

namespace {

TEST(CommandLineArchive, TreeOptionsAndFileNamesOfLongOptions) {
    const Parsed p = parse({"-rud", "out", "--files-from", "-", "--report=r.jsonl", "units"});
    ASSERT_EQ(p.verdict, CommandLineVerdict::Ok);
    EXPECT_TRUE(p.options.recursive);
    EXPECT_TRUE(p.options.onlyNewer);
    EXPECT_EQ(p.options.filesFrom, "-");
    EXPECT_EQ(p.options.reportPath, "r.jsonl");
    EXPECT_EQ(p.options.batchInputs, (std::vector<std::string>{"units"}));
    // A list of models can stand in for the names on the line.
    EXPECT_EQ(parse({"-d", "out", "--files-from=list"}).verdict, CommandLineVerdict::Ok);

    CommandLineFault fault;
    const std::vector<const char*> lines[] = {{"-r", "m.3ds"}, {"--report", "r", "m.3ds"}};
    for (const auto& line : lines) {
        std::vector<const char*> argv{"kestrav"};
        argv.insert(argv.end(), line.begin(), line.end());
        ConverterOptions options;
        EXPECT_EQ(decideCommandLine(int(argv.size()), argv.data(), options, &fault), CommandLineVerdict::Malformed);
        EXPECT_EQ(faultLine(fault), "kestrav: -r, -u, --files-from and --report go only with -d");
    }
    const char* noName[] = {"kestrav", "-d", "out", "m.3ds", "--report"};
    ConverterOptions options;
    EXPECT_EQ(decideCommandLine(5, noName, options, &fault), CommandLineVerdict::Malformed);
    const char* emptyName[] = {"kestrav", "-d", "out", "--files-from=", "m.3ds"};
    ConverterOptions fresh;
    EXPECT_EQ(decideCommandLine(5, emptyName, fresh, &fault), CommandLineVerdict::Malformed);
    EXPECT_EQ(faultLine(fault), "kestrav: option --files-from needs a file name");
    EXPECT_EQ(parse({"--reports=x", "-d", "out", "m.3ds"}).verdict, CommandLineVerdict::Malformed);
}

}  // namespace
