#include "bench/InProcessRun.h"

#include <Inventor/SoDB.h>
#include <Inventor/SoInput.h>
#include <Inventor/nodes/SoSeparator.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "bench/SceneFootprint.h"
#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "tests/support/CoinSceneWriter.h"

using namespace kestrav;

namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Bytes malloc has handed out and not had back, mapped blocks included.
double heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd);
}

double residentNow() {
    long pages = 0, resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

double peakResident() {
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) * 1024.0;
}

double fileSize(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 ? double(status.st_size) : 0.0;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void keepLargest(Figures& figures, const char* name, double value) {
    figures[name] = std::max(figures[name], value);
}

}  // namespace

bool convertInProcess(const std::vector<std::string>& inputs, const std::string& outputDirectory, SceneText text,
                      Figures& figures) {
    const auto write = [text](SoNode* root, const std::string& path, std::string& failure, SceneFormat format) {
        return text == SceneText::Coin ? writeSceneWithCoinOutput(root, path, failure, format)
                                       : writeScene(root, path, failure, format);
    };
    const SceneFormat format = text == SceneText::KestravBinary ? SceneFormat::Binary : SceneFormat::Ascii;
    double start = now();
    SoDB::init();
    figures["coinInitSeconds"] = now() - start;
    figures["residentStartBytes"] = residentNow();

    for (const std::string& input : inputs) {
        const std::string output = outputDirectory + "/" + baseName(input) + ".iv";
        double heap = heapInUse();
        start = now();
        SceneConverter* converter = new SceneConverter(Options(), output);
        converter->read(input);
        figures["readSeconds"] += now() - start;
        keepLargest(figures, "readHeapBytes", heapInUse() - heap);
        keepLargest(figures, "modelBytes", double(modelDatabaseBytes(converter->model())));

        heap = heapInUse();
        start = now();
        SoSeparator* root = converter->build();
        figures["buildSeconds"] += now() - start;
        keepLargest(figures, "sceneHeapBytes", heapInUse() - heap);
        const SceneCount count = countScene(root);
        keepLargest(figures, "sceneNodes", double(count.nodes));
        keepLargest(figures, "sceneFieldBytes", double(count.fieldValueBytes));
        keepLargest(figures, "residentBuiltBytes", residentNow());
        keepLargest(figures, "peakBuiltBytes", peakResident());

        std::string failure;
        start = now();
        const bool written = write(root, output, failure, format);
        figures["writeSeconds"] += now() - start;
        // The same text again to a device: what the write costs before any file
        // system work (temporary file, fsync, rename).
        start = now();
        write(root, "/dev/null", failure, format);
        figures["formatSeconds"] += now() - start;
        delete converter;
        if (!written) {
            std::cerr << failure << '\n';
            return false;
        }
        figures["inputBytes"] += fileSize(input);
        figures["outputBytes"] += fileSize(output);
        figures["files"] += 1;
    }
    figures["peakBytes"] = peakResident();
    return true;
}

bool readBackInProcess(const std::string& path, Figures& figures) {
    SoDB::init();
    const double start = now();
    SoInput input;
    SoSeparator* scene = input.openFile(path.c_str()) ? SoDB::readAll(&input) : nullptr;
    figures["readBackSeconds"] = now() - start;
    if (!scene) {
        std::cerr << "Coin cannot read " << path << '\n';
        return false;
    }
    scene->ref();
    scene->unref();
    return true;
}

std::string formatFigures(const Figures& figures) {
    std::ostringstream line;
    line.precision(17);
    for (const auto& [name, value] : figures) line << name << '=' << value << ' ';
    return line.str();
}

Figures parseFigures(const std::string& line) {
    Figures figures;
    std::istringstream words(line);
    std::string word;
    while (words >> word) {
        const size_t equals = word.find('=');
        if (equals != std::string::npos) figures[word.substr(0, equals)] = std::stod(word.substr(equals + 1));
    }
    return figures;
}
