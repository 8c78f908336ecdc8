// Prints what converting an archive costs, on small models made here at run
// time:
//   - 1,000 models in 100 folders, as a tree (-r -d) and as the same files
//     given one by one (-d), and a second -r -u run over the unchanged tree;
//   - an archive of 10,000 folders whose 1,000 models name an image kept in a
//     shared folder near the top: each model's time in the --report with -r
//     (the image found in the archive) and without (found through
//     KESTRAV_TEXTURE_PATH, so that both scenes use it), -r again into a new
//     output folder, and the archive's listing and look-ups timed in this
//     process.
//   kestrav_archive_bench [-r runs] <kestrav> <scratch-dir>
// Every figure is the median of its runs, after one run of each that is not
// counted; the runs of the variants alternate, so a change of load on the
// machine touches all alike.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "appearance/TextureArchive.h"
#include "bench/BenchModels.h"
#include "bench/ProcessRun.h"

namespace {

namespace fs = std::filesystem;

const char* const kUsage = "usage: kestrav_archive_bench [-r runs] <kestrav> <scratch-dir>\n";
// As the models name it; the archive keeps it in lower case.
const char* const kImageName = "SKIN.PNG";

struct Settings {
    int runs = 5;
    std::string kestrav;
    std::string scratch;
};

[[noreturn]] void fail(const std::string& what) {
    std::cerr << "kestrav_archive_bench: " << what << '\n';
    std::exit(1);
}

double middleOf(std::vector<double> values) {
    if (values.empty()) return 0;
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(half), values.end());
    if (values.size() % 2) return values[half];
    return (values[half] + *std::max_element(values.begin(), values.begin() + long(half))) / 2;
}

void writeBytes(const std::string& path, const Bytes& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out.flush()) fail("cannot write " + path);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string numbered(const char* prefix, int number, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%0*d", prefix, digits, number);
    return text;
}

// kestrav from the scratch directory, its standard error kept in a log that is
// shown when it fails; what it printed last is returned in lastLog.
struct Timed {
    double wall = 0, cpu = 0;
};
Timed runKestrav(const Settings& settings, const std::vector<std::string>& arguments, std::string& lastLog) {
    const std::string log = settings.scratch + "/kestrav.log";
    std::vector<std::string> argv{settings.kestrav};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (saved < 0 || file < 0) fail("cannot open " + log);
    dup2(file, STDERR_FILENO);
    close(file);
    const ProcessFigures run = runProcess(argv, settings.scratch, "", false);
    dup2(saved, STDERR_FILENO);
    close(saved);
    lastLog = readAll(log);
    if (!run.started || run.exitStatus != 0) fail("kestrav " + arguments.front() + " ... failed:\n" + lastLog);
    return {run.wallSeconds, run.cpuSeconds};
}

// 1,000 models in 100 folders, each with a name of its own so that -d can
// take them flat.
std::vector<std::string> makeTree(const Settings& settings) {
    std::vector<std::string> models;
    for (int i = 0; i < 1000; ++i) {
        models.push_back("tree/" + numbered("f", i / 10, 2) + "/" + numbered("m", i, 4) + ".3ds");
        writeBytes(settings.scratch + "/" + models.back(), smallModel(i));
    }
    return models;
}

void measureTree(const Settings& settings) {
    const std::vector<std::string> models = makeTree(settings);
    std::vector<std::string> flatArguments{"-d", "out-flat"};
    flatArguments.insert(flatArguments.end(), models.begin(), models.end());
    const std::vector<std::string> treeArguments{"-r", "-d", "out-tree", "tree"};
    const std::vector<std::string> updateArguments{"-r", "-u", "-d", "out-tree", "tree"};
    std::vector<double> flatWall, flatCpu, treeWall, treeCpu, updateWall, updateCpu, startWall, startCpu;
    std::string log;
    // Run -1 warms the caches and is not counted.
    for (int run = -1; run < settings.runs; ++run) {
        // Each run writes into an empty folder, as a first conversion does.
        // The two take turns going first, so that neither always meets the
        // disk work the other's removal and syncs left behind.
        Timed flat, tree;
        const auto convertFlat = [&] {
            fs::remove_all(settings.scratch + "/out-flat");
            flat = runKestrav(settings, flatArguments, log);
        };
        const auto convertTree = [&] {
            fs::remove_all(settings.scratch + "/out-tree");
            tree = runKestrav(settings, treeArguments, log);
        };
        if (run % 2 == 0) {
            convertFlat();
            convertTree();
        } else {
            convertTree();
            convertFlat();
        }
        const auto written = fs::last_write_time(settings.scratch + "/out-tree/tree/f99/m0999.iv");
        const Timed update = runKestrav(settings, updateArguments, log);
        if (log.find("kestrav: 0 converted, 1000 up to date") == std::string::npos ||
            fs::last_write_time(settings.scratch + "/out-tree/tree/f99/m0999.iv") != written)
            fail("the -r -u run over the unchanged tree converted something:\n" + log);
        // What any run pays before it looks at a file: loading the program and its libraries.
        const Timed start = runKestrav(settings, {"--version"}, log);
        if (run < 0) continue;
        flatWall.push_back(flat.wall), flatCpu.push_back(flat.cpu);
        treeWall.push_back(tree.wall), treeCpu.push_back(tree.cpu);
        updateWall.push_back(update.wall), updateCpu.push_back(update.cpu);
        startWall.push_back(start.wall), startCpu.push_back(start.cpu);
    }
    if (readAll(settings.scratch + "/out-tree/tree/f42/m0421.iv") != readAll(settings.scratch + "/out-flat/m0421.iv"))
        fail("-r wrote another scene than -d");
    const double flat = middleOf(flatWall), tree = middleOf(treeWall), update = middleOf(updateWall),
                 start = middleOf(startWall);
    std::printf("1,000 small models in 100 folders (%d runs)\n\n", settings.runs);
    std::printf("| run | wall | processor time, kestrav and its workers |\n|---|---|---|\n");
    std::printf("| -d, the 1,000 files given one by one | %.0f ms | %.0f ms |\n", flat * 1e3,
                middleOf(flatCpu) * 1e3);
    std::printf("| -r -d, the tree's folder given | %.0f ms | %.0f ms |\n", tree * 1e3, middleOf(treeCpu) * 1e3);
    std::printf("| -r -u -d again, nothing changed | %.0f ms | %.0f ms |\n", update * 1e3,
                middleOf(updateCpu) * 1e3);
    std::printf("| kestrav --version, start-up alone | %.0f ms | %.0f ms |\n", start * 1e3, middleOf(startCpu) * 1e3);
    std::printf("\n- -r / -d wall: %.1f%% (target at most 105%%)\n", 100.0 * tree / flat);
    std::printf("- -r -u over the unchanged tree / the first -r run, wall: %.1f%% (target at most 2%%); less the "
                "start-up of both: %.1f%%\n\n",
                100.0 * update / tree, 100.0 * (update - start) / (tree - start));
}

struct Archive {
    std::vector<std::string> models;        // relative to the scratch directory
    std::vector<std::string> modelFolders;  // absolute
    size_t folders = 0;
    size_t files = 0;
};

// archive/units/gGG/uUU for 100 x 100 folders, each holding a text file and
// every tenth a model naming SKIN.PNG; the image is archive/textures/skin.png,
// three folders above every model.
Archive makeArchive(const Settings& settings) {
    Archive archive;
    const std::string top = settings.scratch + "/archive";
    writeBytes(top + "/textures/skin.png", checkerImagePng());
    archive.folders = 3;  // archive, textures, units
    archive.files = 1;
    for (int group = 0; group < 100; ++group) {
        ++archive.folders;
        for (int unit = 0; unit < 100; ++unit) {
            const std::string folder = "archive/units/" + numbered("g", group, 2) + "/" + numbered("u", unit, 2);
            fs::create_directories(settings.scratch + "/" + folder);
            std::ofstream(settings.scratch + "/" + folder + "/notes.txt") << "unit " << group * 100 + unit << '\n';
            ++archive.folders;
            ++archive.files;
            if (unit % 10) continue;
            const int index = group * 10 + unit / 10;
            archive.models.push_back(folder + "/" + numbered("m", index, 4) + ".3ds");
            archive.modelFolders.push_back(settings.scratch + "/" + folder);
            writeBytes(settings.scratch + "/" + archive.models.back(), smallModel(index, kImageName));
            ++archive.files;
        }
    }
    return archive;
}

// Seconds by model, and how many images each found, from a --report file.
struct ReportLine {
    double seconds;
    int found;
};
std::map<std::string, ReportLine> readReport(const std::string& path) {
    std::map<std::string, ReportLine> lines;
    std::istringstream text(readAll(path));
    for (std::string line; std::getline(text, line);) {
        const nlohmann::json object = nlohmann::json::parse(line);
        lines[object.at("model").get<std::string>()] = {object.at("seconds").get<double>(),
                                                        object.at("textures_found").get<int>()};
    }
    return lines;
}

void measureArchive(const Settings& settings) {
    const Archive archive = makeArchive(settings);

    // In this process: the listing, once per run, and one look-up per model.
    std::vector<double> listing, lookUps, worstLookUp, misses;
    for (int run = 0; run < settings.runs; ++run) {
        auto start = std::chrono::steady_clock::now();
        const kestrav::TextureArchive listed({settings.scratch + "/archive"});
        listing.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (listed.folderCount() != archive.folders) fail("the archive lists another number of folders");
        double total = 0, worst = 0, missTotal = 0;
        for (const std::string& folder : archive.modelFolders) {
            start = std::chrono::steady_clock::now();
            const std::string found = listed.find(folder, kImageName);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (found != settings.scratch + "/archive/textures/skin.png") fail("the archive did not find the image");
            total += seconds;
            worst = std::max(worst, seconds);
            start = std::chrono::steady_clock::now();
            if (!listed.find(folder, "NOWHERE.PNG").empty()) fail("the archive found an image that is not there");
            missTotal += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        }
        lookUps.push_back(total / double(archive.modelFolders.size()));
        worstLookUp.push_back(worst);
        misses.push_back(missTotal / double(archive.modelFolders.size()));
    }

    // The program: each model's seconds in the report. Without -r the search
    // path finds the image, so both convert the same; the mirrored folders
    // exist from the run before, as the flat run's folder does, so that the
    // difference is the look-up. A third run makes them anew.
    const std::string searchPath = settings.scratch + "/archive/textures";
    std::vector<std::string> flatArguments{"-d", "out-archive-flat", "--report", "flat.jsonl"};
    flatArguments.insert(flatArguments.end(), archive.models.begin(), archive.models.end());
    enum { kFlat, kTree, kFreshTree, kVariants };
    const std::vector<std::string> arguments[kVariants] = {
        flatArguments,
        {"-r", "-d", "out-archive", "--report", "tree.jsonl", "archive"},
        {"-r", "-d", "out-archive-fresh", "--report", "fresh.jsonl", "archive"}};
    const char* const reports[kVariants] = {"flat.jsonl", "tree.jsonl", "fresh.jsonl"};
    std::map<std::string, std::vector<double>> seconds[kVariants];
    std::vector<double> wall[kVariants];
    std::string log;
    for (int run = -1; run < settings.runs; ++run) {
        fs::remove_all(settings.scratch + "/out-archive-fresh");
        for (int variant = 0; variant < kVariants; ++variant) {
            if (variant == kFlat) setenv("KESTRAV_TEXTURE_PATH", searchPath.c_str(), 1);
            const double runWall = runKestrav(settings, arguments[variant], log).wall;
            unsetenv("KESTRAV_TEXTURE_PATH");
            const auto report = readReport(settings.scratch + "/" + reports[variant]);
            for (const std::string& model : archive.models) {
                const auto line = report.find(model);
                if (line == report.end() || line->second.found != 1)
                    fail(model + ": its image was not found, or it is not in " + reports[variant]);
                if (run >= 0) seconds[variant][model].push_back(line->second.seconds);
            }
            if (run >= 0) wall[variant].push_back(runWall);
        }
    }
    std::vector<double> perModel[kVariants], lookUpExtra, leastLookUpExtra, folderExtra;
    for (const std::string& model : archive.models) {
        for (int variant = 0; variant < kVariants; ++variant)
            perModel[variant].push_back(middleOf(seconds[variant][model]));
        lookUpExtra.push_back(perModel[kTree].back() - perModel[kFlat].back());
        folderExtra.push_back(perModel[kFreshTree].back() - perModel[kTree].back());
        // The least of a model's runs leaves out the waits for the processor
        // and the disk (its sync) that any one run can meet; the look-up's
        // own work is in every run.
        const auto least = [&](int variant) {
            return *std::min_element(seconds[variant][model].begin(), seconds[variant][model].end());
        };
        leastLookUpExtra.push_back(least(kTree) - least(kFlat));
    }
    std::sort(lookUpExtra.begin(), lookUpExtra.end());
    std::sort(leastLookUpExtra.begin(), leastLookUpExtra.end());
    const double models = double(archive.models.size());
    std::printf("Archive of %zu folders and %zu files, %zu models naming %s, kept as textures/skin.png at the top "
                "(%d runs)\n\n",
                archive.folders, archive.files, archive.models.size(), kImageName, settings.runs);
    std::printf("| | without -r (found on KESTRAV_TEXTURE_PATH) | -r (found in the archive) | -r into a new "
                "folder |\n|---|---|---|---|\n");
    std::printf("| whole run, wall | %.0f ms | %.0f ms | %.0f ms |\n", middleOf(wall[kFlat]) * 1e3,
                middleOf(wall[kTree]) * 1e3, middleOf(wall[kFreshTree]) * 1e3);
    std::printf("| one model in the report, median over the models | %.2f ms | %.2f ms | %.2f ms |\n",
                middleOf(perModel[kFlat]) * 1e3, middleOf(perModel[kTree]) * 1e3,
                middleOf(perModel[kFreshTree]) * 1e3);
    std::printf("\n- listing the archive, once per run (in-process): %.1f ms\n", middleOf(listing) * 1e3);
    std::printf("- one look-up in it (in-process): %.1f us on average, %.1f us at most; a name it does not hold: "
                "%.1f us\n",
                middleOf(lookUps) * 1e6, middleOf(worstLookUp) * 1e6, middleOf(misses) * 1e6);
    std::printf("- a model's conversion with -r less without, from the reports: median %+.3f ms, 90th percentile "
                "%+.3f ms, largest %+.3f ms (target at most 1 ms)\n",
                lookUpExtra[lookUpExtra.size() / 2] * 1e3, lookUpExtra[size_t(0.9 * models)] * 1e3,
                lookUpExtra.back() * 1e3);
    std::printf("- the same from each model's fastest run: median %+.3f ms, 90th percentile %+.3f ms, largest %+.3f "
                "ms\n",
                leastLookUpExtra[leastLookUpExtra.size() / 2] * 1e3, leastLookUpExtra[size_t(0.9 * models)] * 1e3,
                leastLookUpExtra.back() * 1e3);
    std::printf("- making each model's mirrored folder, from the reports: median %+.3f ms a model\n",
                middleOf(folderExtra) * 1e3);
    std::printf("- whole run with -r less without, per model (listing included): %+.3f ms\n",
                (middleOf(wall[kTree]) - middleOf(wall[kFlat])) / models * 1e3);
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    int at = 1;
    for (; at + 1 < argc && std::string(argv[at]) == "-r"; at += 2) settings.runs = std::atoi(argv[at + 1]);
    if (argc - at != 2 || settings.runs < 1) {
        std::cerr << kUsage;
        return 2;
    }
    settings.kestrav = fs::absolute(argv[at]).string();
    fs::create_directories(argv[at + 1]);
    // The archive names what it finds through real folders.
    settings.scratch = fs::canonical(argv[at + 1]).string();
    // Images are looked for where the models are, not where this shell points.
    unsetenv("KESTRAV_TEXTURE_PATH");
    measureTree(settings);
    measureArchive(settings);
    return 0;
}
