// Prints how fast kestrav converts and how much memory it takes, on models
// made here at run time: one mesh at the 16-bit limits, a big scene of 200
// meshes, many small files one process each and all in one kestrav -d run,
// the bundled example, and the test corpus's models as a folder. The limit
// mesh and the big scene are also written with -B and read back by Coin. A
// model of 100 meshes and the limit mesh are converted on 1 and 2 threads
// against the floor: reading the model and writing as many bytes as its scene.
//   kestrav_bench [-r runs] [-n small-files] [-e example-runs] [-d display] [-F] <kestrav> <scratch-dir>
// Every figure is the median of its runs. With -d the example is also
// converted with DISPLAY set to that X server; with -F only the floor table
// is made.

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "bench/BenchModels.h"
#include "bench/InProcessRun.h"
#include "bench/ProcessRun.h"

namespace {

const char* const kUsage =
    "usage: kestrav_bench [-r runs] [-n small-files] [-e example-runs] [-d display] [-F] <kestrav> <scratch-dir>\n";

struct Settings {
    int runs = 3;
    int smallFiles = 1000;
    int exampleRuns = 20;
    std::string display;
    bool floorOnly = false;
    std::string kestrav;
    std::string scratch;
    std::string self;
};

struct Row {
    std::string name;
    Figures inProcess;  // medians of the in-process runs
    Figures process;    // medians of the kestrav runs: wallSeconds, peakBytes
    Figures coinText;   // medians of the in-process runs with Coin's SoOutput, when measured
    // When measured: medians of the in-process runs and of kestrav -B, and of
    // Coin reading back the ASCII and the binary scene, each its own process.
    Figures binary, binaryProcess, asciiReadBack, binaryReadBack;
    Figures batch;      // medians of one kestrav -d run over all the files, when measured
    double loadBefore = 0, loadAfter = 0;
};

double loadAverage() {
    double load = 0;
    std::ifstream("/proc/loadavg") >> load;
    return load;
}

bool writeBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out.flush());
}

std::string absolute(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

Figures medians(const std::vector<Figures>& runs) {
    std::map<std::string, std::vector<double>> byName;
    for (const Figures& run : runs)
        for (const auto& [name, value] : run) byName[name].push_back(value);
    Figures result;
    for (const auto& [name, values] : byName) result[name] = median(values);
    return result;
}

[[noreturn]] void fail(const std::string& what) {
    std::cerr << "kestrav_bench: " << what << '\n';
    std::exit(1);
}

std::string outputDirectory(const Settings& settings, SceneText text) {
    return settings.scratch + (text == SceneText::Kestrav ? "/out" : text == SceneText::Coin ? "/out-coin" : "/out-binary");
}

// One child process converting the inputs in-process. Every conversion runs in
// the folder it writes to, beside the images, so the scenes name them as the
// models do whether they are built to be written or only shown.
Figures inProcessRun(const Settings& settings, const std::vector<std::string>& inputs,
                     SceneText text = SceneText::Kestrav) {
    const std::string folder = outputDirectory(settings, text);
    std::vector<std::string> argv{settings.self,
                                  text == SceneText::Kestrav ? "--convert"
                                  : text == SceneText::Coin  ? "--convert-coin"
                                                             : "--convert-binary",
                                  folder};
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    const ProcessFigures run = runProcess(argv, folder, "", true);
    if (!run.started || run.exitStatus != 0) fail("the in-process conversion of " + inputs.front() + " failed");
    Figures figures = parseFigures(run.out);
    figures["processPeakBytes"] = run.peakBytes;
    figures["processWallSeconds"] = run.wallSeconds;
    figures["processCpuSeconds"] = run.cpuSeconds;
    return figures;
}

std::string kestravOutput(const Settings& settings, SceneText text = SceneText::Kestrav) {
    return outputDirectory(settings, text) + "/kestrav.iv";
}

// Coin reading a scene file back, in a process of its own.
Figures readBackRun(const Settings& settings, const std::string& path) {
    const ProcessFigures run = runProcess({settings.self, "--read-back", path}, settings.scratch, "", true);
    if (!run.started || run.exitStatus != 0) fail("Coin could not read back " + path);
    return parseFigures(run.out);
}

std::string inProcessOutput(const Settings& settings, const std::string& input,
                            SceneText text = SceneText::Kestrav) {
    return outputDirectory(settings, text) + "/" + input.substr(input.rfind('/') + 1) + ".iv";
}

bool sameContents(const std::string& first, const std::string& second) {
    std::ifstream a(first, std::ios::binary), b(second, std::ios::binary);
    std::vector<char> blockA(1 << 20), blockB(1 << 20);
    while (a && b) {
        a.read(blockA.data(), std::streamsize(blockA.size()));
        b.read(blockB.data(), std::streamsize(blockB.size()));
        if (a.gcount() != b.gcount() || !std::equal(blockA.begin(), blockA.begin() + a.gcount(), blockB.begin()))
            return false;
    }
    return a.eof() && b.eof();
}

// The real binary on one file, as a batch script runs it; with -B for a
// binary scene.
Figures kestravRun(const Settings& settings, const std::string& input, const std::string& display,
                   SceneText text = SceneText::Kestrav) {
    const std::string output = kestravOutput(settings, text);
    std::vector<std::string> argv{settings.kestrav, input, output};
    if (text == SceneText::KestravBinary) argv.insert(argv.begin() + 1, "-B");
    const ProcessFigures run = runProcess(argv, outputDirectory(settings, text), display, false);
    if (!run.started || run.exitStatus != 0) fail("kestrav failed on " + input);
    return Figures{{"wallSeconds", run.wallSeconds}, {"cpuSeconds", run.cpuSeconds}, {"peakBytes", run.peakBytes}};
}

Row measureOne(const Settings& settings, const std::string& name, const std::string& input) {
    Row row;
    row.name = name;
    row.loadBefore = loadAverage();
    std::vector<Figures> inProcess, process, coinText, binary, binaryProcess, asciiReadBack, binaryReadBack;
    // Alternated, so a change of load on the machine touches all alike.
    for (int run = 0; run < settings.runs; ++run) {
        inProcess.push_back(inProcessRun(settings, {input}));
        process.push_back(kestravRun(settings, input, ""));
        coinText.push_back(inProcessRun(settings, {input}, SceneText::Coin));
        binary.push_back(inProcessRun(settings, {input}, SceneText::KestravBinary));
        binaryProcess.push_back(kestravRun(settings, input, "", SceneText::KestravBinary));
        asciiReadBack.push_back(readBackRun(settings, inProcessOutput(settings, input)));
        binaryReadBack.push_back(readBackRun(settings, inProcessOutput(settings, input, SceneText::KestravBinary)));
    }
    row.inProcess = medians(inProcess);
    row.process = medians(process);
    row.coinText = medians(coinText);
    row.binary = medians(binary);
    row.binaryProcess = medians(binaryProcess);
    row.asciiReadBack = medians(asciiReadBack);
    row.binaryReadBack = medians(binaryReadBack);
    row.loadAfter = loadAverage();
    // The in-process steps must be the conversion the program makes, and
    // Coin's output must have written the same bytes as kestrav's.
    if (!sameContents(inProcessOutput(settings, input), kestravOutput(settings)))
        fail("the in-process scene of " + input + " differs from the one kestrav wrote");
    if (!sameContents(inProcessOutput(settings, input, SceneText::Coin), kestravOutput(settings)))
        fail("the scene of " + input + " written through Coin's SoOutput differs from kestrav's");
    if (!sameContents(inProcessOutput(settings, input, SceneText::KestravBinary),
                      kestravOutput(settings, SceneText::KestravBinary)))
        fail("the in-process binary scene of " + input + " differs from the one kestrav -B wrote");
    return row;
}

// The real binary on all the files at once, as kestrav -d; the peak is that of
// its largest process, the parent or a worker.
Figures kestravBatchRun(const Settings& settings, const std::vector<std::string>& inputs, const std::string& folder) {
    std::vector<std::string> argv{settings.kestrav, "-d", folder};
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    const ProcessFigures run = runProcess(argv, settings.scratch, "", false);
    if (!run.started || run.exitStatus != 0) fail("kestrav -d failed on " + inputs.front() + " and the rest");
    return Figures{{"wallSeconds", run.wallSeconds}, {"cpuSeconds", run.cpuSeconds}, {"peakBytes", run.peakBytes}};
}

// The files one process each and all in one batch run; the in-process run
// converts them all in one.
Row measureBatch(const Settings& settings, const std::vector<std::string>& inputs, std::vector<double>& perFile) {
    Row row;
    row.name = "many small (" + std::to_string(inputs.size()) + " files)";
    row.loadBefore = loadAverage();
    std::vector<Figures> inProcess, process, batch;
    for (int run = 0; run < settings.runs; ++run) {
        inProcess.push_back(inProcessRun(settings, inputs));
        batch.push_back(kestravBatchRun(settings, inputs, settings.scratch + "/out-batch"));
        double wall = 0, cpu = 0, peak = 0;
        for (const std::string& input : inputs) {
            const Figures one = kestravRun(settings, input, "");
            wall += one.at("wallSeconds");
            cpu += one.at("cpuSeconds");
            peak = std::max(peak, one.at("peakBytes"));
            perFile.push_back(one.at("wallSeconds"));
        }
        process.push_back(Figures{{"wallSeconds", wall}, {"cpuSeconds", cpu}, {"peakBytes", peak}});
    }
    row.inProcess = medians(inProcess);
    row.process = medians(process);
    row.batch = medians(batch);
    row.loadAfter = loadAverage();
    // The batch must write what each separate run writes.
    const std::string& last = inputs.back();
    const std::string scene = last.substr(last.rfind('/') + 1, last.rfind('.') - last.rfind('/') - 1) + ".iv";
    if (!sameContents(settings.scratch + "/out-batch/" + scene, kestravOutput(settings)))
        fail("kestrav -d wrote another scene of " + last + " than kestrav alone");
    return row;
}

// Every model of the test corpus, one process each and in one batch run.
Row measureCorpus(const Settings& settings) {
    std::vector<std::string> inputs;
    for (const auto& entry : std::filesystem::directory_iterator(KESTRAV_CORPUS)) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".3ds") inputs.push_back(entry.path().string());
    }
    std::sort(inputs.begin(), inputs.end());
    Row row;
    row.name = "corpus folder (" + std::to_string(inputs.size()) + " files)";
    row.loadBefore = loadAverage();
    std::vector<Figures> process, batch;
    for (int run = 0; run < settings.runs; ++run) {
        batch.push_back(kestravBatchRun(settings, inputs, settings.scratch + "/out-corpus"));
        double wall = 0, cpu = 0, peak = 0;
        for (const std::string& input : inputs) {
            const Figures one = kestravRun(settings, input, "");
            wall += one.at("wallSeconds");
            cpu += one.at("cpuSeconds");
            peak = std::max(peak, one.at("peakBytes"));
        }
        process.push_back(Figures{{"wallSeconds", wall}, {"cpuSeconds", cpu}, {"peakBytes", peak}});
    }
    row.process = medians(process);
    row.batch = medians(batch);
    row.loadAfter = loadAverage();
    return row;
}

Row measureExample(const Settings& settings, const std::string& input, const std::string& display) {
    Row row;
    row.name = display.empty() ? "bundled example" : "bundled example, DISPLAY=" + display;
    row.loadBefore = loadAverage();
    std::vector<Figures> inProcess, process;
    for (int run = 0; run < settings.exampleRuns; ++run) {
        if (display.empty()) inProcess.push_back(inProcessRun(settings, {input}));
        process.push_back(kestravRun(settings, input, display));
    }
    row.inProcess = medians(inProcess);
    row.process = medians(process);
    row.loadAfter = loadAverage();
    return row;
}

std::string megabytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, bytes < 1e6 ? "%.3f MB" : "%.1f MB", bytes / 1e6);
    return text;
}

std::string milliseconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, seconds < 0.1 ? "%.1f ms" : "%.0f ms", seconds * 1e3);
    return text;
}

// Reading the model and writing as many bytes as a scene of sceneBytes into
// folder, synced to the disk as kestrav syncs its scene before renaming it:
// what a conversion cannot take less than.
double floorSeconds(const std::string& input, double sceneBytes, const std::string& folder) {
    const std::string command = "cat '" + input + "' >/dev/null && head -c " + std::to_string(uint64_t(sceneBytes)) +
                                " /dev/zero >floor.bin && sync floor.bin";
    const ProcessFigures run = runProcess({"/bin/sh", "-c", command}, folder, "", false);
    if (!run.started || run.exitStatus != 0) fail("the floor run failed for " + input);
    return run.wallSeconds;
}

// kestrav on 1 and 2 threads against the floor of each run, taken in turn so
// that a change of load touches all alike; ratios are taken run by run.
struct FloorRow {
    std::string name;
    double sceneBytes = 0, floor = 0, wall[2] = {0, 0}, ratio[2] = {0, 0};
    double modelBytes = 0, peak[2] = {0, 0};  // peak: kestrav's peak RSS
};

FloorRow measureFloor(const Settings& settings, const std::string& name, const std::string& input, SceneText text) {
    FloorRow row;
    row.name = name;
    const std::string folder = outputDirectory(settings, text), output = kestravOutput(settings, text);
    std::vector<std::string> argv{settings.kestrav, "-j", "1", input, output};
    if (text == SceneText::KestravBinary) argv.insert(argv.begin() + 1, "-B");
    std::vector<double> floors, walls[2], ratios[2], peaks[2];
    for (int run = 0; run < settings.runs; ++run) {
        for (int threads = 0; threads < 2; ++threads) {
            argv[argv.size() - 3] = std::to_string(threads + 1);
            const ProcessFigures converted = runProcess(argv, folder, "", false);
            if (!converted.started || converted.exitStatus != 0) fail("kestrav failed on " + input);
            walls[threads].push_back(converted.wallSeconds);
            peaks[threads].push_back(converted.peakBytes);
        }
        struct stat scene;
        if (stat(output.c_str(), &scene) != 0) fail("kestrav wrote no scene for " + input);
        row.sceneBytes = double(scene.st_size);
        if (stat(input.c_str(), &scene) == 0) row.modelBytes = double(scene.st_size);
        floors.push_back(floorSeconds(input, row.sceneBytes, folder));
        for (int threads = 0; threads < 2; ++threads) ratios[threads].push_back(walls[threads].back() / floors.back());
    }
    unlink((folder + "/floor.bin").c_str());
    row.floor = median(floors);
    for (int threads = 0; threads < 2; ++threads) {
        row.wall[threads] = median(walls[threads]);
        row.ratio[threads] = median(ratios[threads]);
        row.peak[threads] = median(peaks[threads]);
    }
    return row;
}

std::vector<FloorRow> measureFloors(const Settings& settings) {
    const double loadBefore = loadAverage();
    std::vector<FloorRow> rows;
    const std::string hundred = settings.scratch + "/hundred.3ds", limit = settings.scratch + "/limit.3ds";
    rows.push_back(measureFloor(settings, "100 meshes, ASCII", hundred, SceneText::Kestrav));
    rows.push_back(measureFloor(settings, "100 meshes, -B", hundred, SceneText::KestravBinary));
    rows.push_back(measureFloor(settings, "limit mesh, ASCII", limit, SceneText::Kestrav));
    rows.push_back(measureFloor(settings, "limit mesh, -B", limit, SceneText::KestravBinary));
    std::printf("\nkestrav against the floor (cat the model, write as many bytes as its scene beside it, sync); "
                "ratios are medians of each run's kestrav wall / that run's floor; load average %.2f before, %.2f "
                "after\n\n",
                loadBefore, loadAverage());
    std::printf("| model | scene | floor | kestrav -j 1 | / floor | kestrav -j 2 | / floor | input | peak RSS -j 1 "
                "| peak RSS -j 2 | peak -j 2 / input |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const FloorRow& row : rows) {
        char line[384];
        std::snprintf(line, sizeof line, "| %s | %s | %s | %s | %.2f | %s | %.2f | %s | %s | %s | %.2f |\n",
                      row.name.c_str(), megabytes(row.sceneBytes).c_str(), milliseconds(row.floor).c_str(),
                      milliseconds(row.wall[0]).c_str(), row.ratio[0], milliseconds(row.wall[1]).c_str(),
                      row.ratio[1], megabytes(row.modelBytes).c_str(), megabytes(row.peak[0]).c_str(),
                      megabytes(row.peak[1]).c_str(), row.modelBytes > 0 ? row.peak[1] / row.modelBytes : 0.0);
        std::printf("%s", line);
    }
    return rows;
}

double figure(const Figures& figures, const char* name) {
    const auto found = figures.find(name);
    return found == figures.end() ? 0.0 : found->second;
}

void printTable(const std::vector<Row>& rows) {
    std::printf("| model | input | output | read | build | write | read+build+write | write MB/s | peak RSS "
                "| kestrav wall | kestrav CPU | kestrav peak RSS |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        const Figures& f = row.inProcess;
        if (f.empty()) {
            std::printf("| %s | | | | | | | | | %s | %s | %s |\n", row.name.c_str(),
                        milliseconds(figure(row.process, "wallSeconds")).c_str(),
                        milliseconds(figure(row.process, "cpuSeconds")).c_str(),
                        megabytes(figure(row.process, "peakBytes")).c_str());
            continue;
        }
        const double read = figure(f, "readSeconds"), build = figure(f, "buildSeconds"),
                     write = figure(f, "writeSeconds");
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %.1f | %s | %s | %s | %s |\n", row.name.c_str(),
                    megabytes(figure(f, "inputBytes")).c_str(), megabytes(figure(f, "outputBytes")).c_str(),
                    milliseconds(read).c_str(), milliseconds(build).c_str(), milliseconds(write).c_str(),
                    milliseconds(read + build + write).c_str(), figure(f, "outputBytes") / 1e6 / write,
                    megabytes(figure(f, "processPeakBytes")).c_str(),
                    milliseconds(figure(row.process, "wallSeconds")).c_str(),
                    milliseconds(figure(row.process, "cpuSeconds")).c_str(),
                    megabytes(figure(row.process, "peakBytes")).c_str());
    }
}

void printMemory(const std::vector<Row>& rows) {
    std::printf("\n| model | model database | scene graph (heap growth) | scene field values | scene nodes "
                "| resident before read | peak RSS | peak / (scene + database) | same, less the resident "
                "before read |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        const Figures& f = row.inProcess;
        if (f.empty() || figure(f, "files") > 1) continue;
        const double model = figure(f, "modelBytes"), scene = figure(f, "sceneHeapBytes"),
                     peak = figure(f, "processPeakBytes"), start = figure(f, "residentStartBytes");
        std::printf("| %s | %s | %s | %s | %.0f | %s | %s | %.2f | %.2f |\n", row.name.c_str(),
                    megabytes(model).c_str(), megabytes(scene).c_str(),
                    megabytes(figure(f, "sceneFieldBytes")).c_str(), figure(f, "sceneNodes"),
                    megabytes(start).c_str(), megabytes(peak).c_str(), peak / (scene + model),
                    (peak - start) / (scene + model));
    }
}

void printSceneText(const std::vector<Row>& rows) {
    std::printf("\nThe scene text through Coin's own SoOutput (as before kestrav had its own output) and through "
                "kestrav's; both wrote the same bytes\n\n");
    std::printf("| model | output | write, Coin | write, kestrav | speed-up | formatting, Coin | formatting, kestrav "
                "| read+build+write, Coin | read+build+write, kestrav | speed-up | peak RSS, Coin | peak RSS, "
                "kestrav |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        if (row.coinText.empty()) continue;
        const Figures &coin = row.coinText, &own = row.inProcess;
        const double coinWrite = figure(coin, "writeSeconds"), ownWrite = figure(own, "writeSeconds");
        const double coinTotal = figure(coin, "readSeconds") + figure(coin, "buildSeconds") + coinWrite;
        const double ownTotal = figure(own, "readSeconds") + figure(own, "buildSeconds") + ownWrite;
        std::printf("| %s | %s | %s | %s | %.1fx | %s | %s | %s | %s | %.1fx | %s | %s |\n", row.name.c_str(),
                    megabytes(figure(own, "outputBytes")).c_str(), milliseconds(coinWrite).c_str(),
                    milliseconds(ownWrite).c_str(), coinWrite / ownWrite,
                    milliseconds(figure(coin, "formatSeconds")).c_str(),
                    milliseconds(figure(own, "formatSeconds")).c_str(), milliseconds(coinTotal).c_str(),
                    milliseconds(ownTotal).c_str(), coinTotal / ownTotal,
                    megabytes(figure(coin, "processPeakBytes")).c_str(),
                    megabytes(figure(own, "processPeakBytes")).c_str());
    }
}

void printBinary(const std::vector<Row>& rows) {
    std::printf("\nThe binary scene (-B) beside the ASCII one, from the same runs; read-back is Coin's SoDB::readAll "
                "of the written file in a process of its own\n\n");
    std::printf("| model | output, ASCII | output, -B | -B / ASCII | write, ASCII | write, -B | read+build+write, "
                "ASCII | read+build+write, -B | kestrav wall, ASCII | kestrav wall, -B | -B / ASCII "
                "| read-back, ASCII | read-back, -B | speed-up |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        if (row.binary.empty()) continue;
        const Figures &ascii = row.inProcess, &binary = row.binary;
        const double asciiSize = figure(ascii, "outputBytes"), binarySize = figure(binary, "outputBytes");
        const double asciiTotal =
            figure(ascii, "readSeconds") + figure(ascii, "buildSeconds") + figure(ascii, "writeSeconds");
        const double binaryTotal =
            figure(binary, "readSeconds") + figure(binary, "buildSeconds") + figure(binary, "writeSeconds");
        const double asciiWall = figure(row.process, "wallSeconds"),
                     binaryWall = figure(row.binaryProcess, "wallSeconds");
        const double asciiBack = figure(row.asciiReadBack, "readBackSeconds"),
                     binaryBack = figure(row.binaryReadBack, "readBackSeconds");
        std::printf("| %s | %s | %s | %.1f%% | %s | %s | %s | %s | %s | %s | %.1f%% | %s | %s | %.1fx |\n",
                    row.name.c_str(), megabytes(asciiSize).c_str(), megabytes(binarySize).c_str(),
                    100.0 * binarySize / asciiSize, milliseconds(figure(ascii, "writeSeconds")).c_str(),
                    milliseconds(figure(binary, "writeSeconds")).c_str(), milliseconds(asciiTotal).c_str(),
                    milliseconds(binaryTotal).c_str(), milliseconds(asciiWall).c_str(),
                    milliseconds(binaryWall).c_str(), 100.0 * binaryWall / asciiWall,
                    milliseconds(asciiBack).c_str(), milliseconds(binaryBack).c_str(), asciiBack / binaryBack);
    }
}

void printTargets(const Row& big, const Row& example, const Row* exampleWithDisplay, const Row& batch,
                  const std::vector<double>& perFile) {
    const Figures& f = big.inProcess;
    const double readBuild = figure(f, "readSeconds") + figure(f, "buildSeconds");
    const double memoryRatio =
        figure(f, "processPeakBytes") / (figure(f, "sceneHeapBytes") + figure(f, "modelBytes"));
    std::printf("\nTargets\n");
    std::printf("- big scene, read + build / write: %.1f%% (target at most 15%%)\n",
                100.0 * readBuild / figure(f, "writeSeconds"));
    std::printf("- big scene, peak RSS / (scene graph + model database): %.2f (target at most 2.5)\n", memoryRatio);
    std::printf("- big scene, write %s: %s of it formatting the text (the same write to /dev/null), the rest "
                "the file (temporary file, fsync, rename)\n",
                milliseconds(figure(f, "writeSeconds")).c_str(), milliseconds(figure(f, "formatSeconds")).c_str());
    std::printf("- big scene, kestrav -B wall / kestrav wall: %.1f%% (target at most 50%%); -B output / ASCII "
                "output: %.1f%% (target at most 40%%); Coin's read-back of the ASCII scene / of the -B scene: "
                "%.1fx (target at least 3x)\n",
                100.0 * figure(big.binaryProcess, "wallSeconds") / figure(big.process, "wallSeconds"),
                100.0 * figure(big.binary, "outputBytes") / figure(f, "outputBytes"),
                figure(big.asciiReadBack, "readBackSeconds") / figure(big.binaryReadBack, "readBackSeconds"));
    const double wall = figure(example.process, "wallSeconds");
    std::printf("- bundled example, kestrav wall without a display: %s, of which %s processor time (target under "
                "60 ms)\n",
                milliseconds(wall).c_str(), milliseconds(figure(example.process, "cpuSeconds")).c_str());
    if (exampleWithDisplay) {
        const double withDisplay = figure(exampleWithDisplay->process, "wallSeconds");
        std::printf("- bundled example with a display: %s, %s more; processor time %s\n",
                    milliseconds(withDisplay).c_str(), milliseconds(withDisplay - wall).c_str(),
                    milliseconds(figure(exampleWithDisplay->process, "cpuSeconds")).c_str());
    }
    std::printf("- many small: %s per file as its own process (median of %zu), %s per file in one process\n",
                milliseconds(median(perFile)).c_str(), perFile.size(),
                milliseconds((figure(batch.inProcess, "readSeconds") + figure(batch.inProcess, "buildSeconds") +
                              figure(batch.inProcess, "writeSeconds")) /
                             figure(batch.inProcess, "files"))
                    .c_str());

    const Figures& e = example.inProcess;
    const double converterOnly = figure(e, "processWallSeconds");
    std::printf("\nStart-up of one small conversion (the bundled example, no display)\n");
    std::printf("- kestrav, whole process: %s\n", milliseconds(wall).c_str());
    const double cpu = figure(example.process, "cpuSeconds"), converterOnlyCpu = figure(e, "processCpuSeconds");
    std::printf("- the same steps in a process that does not link the viewer libraries (SoQt, Qt): %s, "
                "so loading them costs about %s (processor time %s against %s)\n",
                milliseconds(converterOnly).c_str(), milliseconds(wall - converterOnly).c_str(),
                milliseconds(converterOnlyCpu).c_str(), milliseconds(cpu).c_str());
    std::printf("- in that process: Coin initialisation (SoDB::init) %s, read %s, build %s, write %s (formatting "
                "%s, the rest the file)\n",
                milliseconds(figure(e, "coinInitSeconds")).c_str(), milliseconds(figure(e, "readSeconds")).c_str(),
                milliseconds(figure(e, "buildSeconds")).c_str(), milliseconds(figure(e, "writeSeconds")).c_str(),
                milliseconds(figure(e, "formatSeconds")).c_str());
}

void printBatches(const std::vector<const Row*>& rows) {
    std::printf("\nThe same files as separate kestrav runs and as one kestrav -d run (%ld processors)\n\n",
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("| files | separate runs, wall | kestrav -d, wall | batch / separate | kestrav -d, CPU "
                "| peak RSS, largest separate run | peak RSS, largest process of the batch |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const Row* row : rows) {
        const double separate = figure(row->process, "wallSeconds"), batch = figure(row->batch, "wallSeconds");
        std::printf("| %s | %s | %s | %.1f%% | %s | %s | %s |\n", row->name.c_str(), milliseconds(separate).c_str(),
                    milliseconds(batch).c_str(), 100.0 * batch / separate,
                    milliseconds(figure(row->batch, "cpuSeconds")).c_str(),
                    megabytes(figure(row->process, "peakBytes")).c_str(),
                    megabytes(figure(row->batch, "peakBytes")).c_str());
    }
}

void printLoad(const std::vector<Row>& rows) {
    std::printf("\nLoad average (1 min) before and after each model, on %ld cores:", sysconf(_SC_NPROCESSORS_ONLN));
    for (const Row& row : rows) std::printf(" %s %.2f/%.2f;", row.name.c_str(), row.loadBefore, row.loadAfter);
    std::printf("\n");
}

std::string smallModelPath(const std::string& scratch, int index) {
    char name[32];
    std::snprintf(name, sizeof name, "/small/%04d.3ds", index);
    return scratch + name;
}

int makeModelsCommand(const std::string& scratch, int smallFiles) {
    mkdir((scratch + "/small").c_str(), 0755);
    const Bytes image = checkerImagePng();
    bool written = true;
    for (const char* folder : {"/out", "/out-coin", "/out-binary"}) {
        mkdir((scratch + folder).c_str(), 0755);
        written = written && writeBytes(scratch + folder + "/" + kLimitImageName, image) &&
                  writeBytes(scratch + folder + "/" + kSceneImageName, image);
    }
    written = written && writeBytes(scratch + "/limit.3ds", limitMeshModel(kLimitImageName)) &&
              writeBytes(scratch + "/big.3ds", bigSceneModel()) &&
              writeBytes(scratch + "/hundred.3ds", hundredMeshModel());
    for (int i = 0; written && i < smallFiles; ++i) written = writeBytes(smallModelPath(scratch, i), smallModel(i));
    return written ? 0 : 1;
}

int readBackCommand(const std::string& path) {
    Figures figures;
    if (!readBackInProcess(path, figures)) return 1;
    std::printf("%s\n", formatFigures(figures).c_str());
    return 0;
}

int convertCommand(int argc, char** argv, SceneText text) {
    if (argc < 4) {
        std::cerr << kUsage;
        return 2;
    }
    mkdir(argv[2], 0755);
    Figures figures;
    if (!convertInProcess(std::vector<std::string>(argv + 3, argv + argc), argv[2], text, figures)) return 1;
    std::printf("%s\n", formatFigures(figures).c_str());
    return 0;
}

bool parseSettings(int argc, char** argv, Settings& settings) {
    int option;
    while ((option = getopt(argc, argv, "r:n:e:d:F")) != -1) {
        switch (option) {
        case 'F': settings.floorOnly = true; break;
        case 'r': settings.runs = std::atoi(optarg); break;
        case 'n': settings.smallFiles = std::atoi(optarg); break;
        case 'e': settings.exampleRuns = std::atoi(optarg); break;
        case 'd': settings.display = optarg; break;
        default: return false;
        }
    }
    if (argc - optind != 2 || settings.runs < 1 || settings.smallFiles < 1 || settings.exampleRuns < 1) return false;
    settings.kestrav = absolute(argv[optind]);
    mkdir(argv[optind + 1], 0755);
    settings.scratch = absolute(argv[optind + 1]);
    settings.self = absolute("/proc/self/exe");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--convert") == 0) return convertCommand(argc, argv, SceneText::Kestrav);
    if (argc > 1 && std::strcmp(argv[1], "--convert-coin") == 0) return convertCommand(argc, argv, SceneText::Coin);
    if (argc > 1 && std::strcmp(argv[1], "--convert-binary") == 0)
        return convertCommand(argc, argv, SceneText::KestravBinary);
    if (argc == 3 && std::strcmp(argv[1], "--read-back") == 0) return readBackCommand(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "--make-models") == 0) return makeModelsCommand(argv[2], std::atoi(argv[3]));
    Settings settings;
    if (!parseSettings(argc, argv, settings)) {
        std::cerr << kUsage;
        return 2;
    }

    // A child makes the models: the peak resident size a process reports
    // includes that of the process that started it, so this one stays small.
    const std::string& scratch = settings.scratch;
    const ProcessFigures made =
        runProcess({settings.self, "--make-models", scratch, std::to_string(settings.smallFiles)}, scratch, "", false);
    if (!made.started || made.exitStatus != 0) fail("cannot write the models to " + scratch);
    std::vector<std::string> smallInputs;
    for (int i = 0; i < settings.smallFiles; ++i) smallInputs.push_back(smallModelPath(scratch, i));

    if (settings.floorOnly) {
        measureFloors(settings);
        return 0;
    }
    std::vector<Row> rows;
    std::vector<double> perFile;
    rows.push_back(measureOne(settings, "limit mesh", scratch + "/limit.3ds"));
    rows.push_back(measureOne(settings, "big scene", scratch + "/big.3ds"));
    rows.push_back(measureBatch(settings, smallInputs, perFile));
    rows.push_back(measureExample(settings, KESTRAV_EXAMPLE, ""));
    if (!settings.display.empty()) rows.push_back(measureExample(settings, KESTRAV_EXAMPLE, settings.display));
    const Row corpus = measureCorpus(settings);

    std::printf("Medians of %d runs (the bundled example: %d); MB = 10^6 bytes.\n\n", settings.runs,
                settings.exampleRuns);
    printTable(rows);
    printMemory(rows);
    printSceneText(rows);
    printBinary(rows);
    printTargets(rows[1], rows[3], settings.display.empty() ? nullptr : &rows[4], rows[2], perFile);
    printBatches({&rows[2], &corpus});
    printLoad(rows);
    measureFloors(settings);
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    std::printf("This benchmark's own peak RSS, which every peak above may include: %s\n",
                megabytes(double(usage.ru_maxrss) * 1024.0).c_str());
    return 0;
}
