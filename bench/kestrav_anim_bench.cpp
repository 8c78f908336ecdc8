// Prints what -a costs: scene size and conversion time (in-process, median of
// a few runs) with and without it, for the corpus models whose parts move and
// for a made model of many moving parts; and, for each model, the parts that
// move and the frames they span.
//   kestrav_anim_bench <corpus-dir> <scratch-dir> [runs]

#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "transform/AnimationBuilder.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

// parts small boxes in a row, each turning and rising over frames 0 to
// frames - 1 with keys every tenth frame.
Bytes manyMovingParts(int parts, uint32_t frames) {
    Chunk3ds mdata(MDATA), kfdata(KFDATA);
    kfdata.add(Chunk3ds(KFSEG).u32(0).u32(frames - 1));
    const std::vector<Face> faces = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                     {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    for (int p = 0; p < parts; ++p) {
        const std::string name = "Part" + std::to_string(p);
        const float x = float(p) * 3.0f;
        std::vector<float> corners;
        for (int c = 0; c < 8; ++c) corners.insert(corners.end(), {x + float(c & 1), float(c >> 1 & 1), float(c >> 2)});
        mdata.add(meshObject(name, {pointArray(corners), faceArray(faces), meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, x, 0, 0})}));
        std::vector<SplineKey> positions, rotations;
        for (uint32_t f = 0; f < frames; f += 10) {
            positions.push_back({f, {x, 0, float(f) * 0.1f}, 0x07, {0, 0, 0}});
            rotations.push_back({f, {f == 0 ? 0.0f : 0.3f, 0, 0, 1}, 0x07, {0, 0, 0}});
        }
        kfdata.add(objectNode(uint16_t(p), name, kNoParent)
                       .add(splineTrack(POS_TRACK_TAG, positions))
                       .add(splineTrack(ROT_TRACK_TAG, rotations)));
    }
    Chunk3ds magic(M3DMAGIC);
    magic.add(mdata).add(kfdata);
    return magic.bytes();
}

struct Run {
    double seconds;
    uintmax_t bytes;
};

// Reads, builds and writes the scene; the time of the whole conversion.
Run convertOnce(const std::string& model, const std::string& scene, bool animation,
                std::vector<AnimationBuilder::AnimatedPart>* parts) {
    Options options;
    options.animation = animation;
    const auto start = std::chrono::steady_clock::now();
    SceneConverter converter(options, scene);
    std::string failure;
    if (converter.read(model) != Outcome::Unreadable) writeScene(converter.build(), scene, failure);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (parts && converter.animation()) *parts = converter.animation()->animatedParts();
    return {seconds, fs::file_size(scene)};
}

Run median(const std::string& model, const std::string& scene, bool animation, int runs,
           std::vector<AnimationBuilder::AnimatedPart>* parts) {
    std::vector<Run> all;
    for (int i = 0; i < runs; ++i) all.push_back(convertOnce(model, scene, animation, parts));
    std::sort(all.begin(), all.end(), [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
    return all[all.size() / 2];
}

void report(const std::string& model, const std::string& label, const std::string& scratch, int runs) {
    std::vector<AnimationBuilder::AnimatedPart> parts;
    const Run still = median(model, scratch + "/still.iv", false, runs, nullptr);
    const Run kept = median(model, scratch + "/kept.iv", true, runs, &parts);
    std::printf("%-36s %10ju %8.2f ms %10ju %8.2f ms %6zu\n", label.c_str(), still.bytes, still.seconds * 1e3,
                kept.bytes, kept.seconds * 1e3, parts.size());
    const size_t shown = std::min<size_t>(parts.size(), 3);
    for (size_t i = 0; i < shown; ++i)
        std::printf("    %-12s %s%s frames %u-%u%s\n", parts[i].name.c_str(), parts[i].moves ? "moves" : "",
                    parts[i].hides ? " hides" : "", parts[i].firstFrame, parts[i].lastFrame,
                    parts[i].reflectionChanges ? ", reflects at some frames only" : "");
    if (parts.size() > shown) std::printf("    ... %zu more\n", parts.size() - shown);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kestrav_anim_bench <corpus-dir> <scratch-dir> [runs]\n");
        return 2;
    }
    SoDB::init();
    const std::string scratch = argv[2];
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    fs::create_directories(scratch);
    std::printf("%-36s %10s %11s %10s %11s %6s\n", "model", "bytes", "time", "bytes -a", "time -a", "parts");
    std::vector<fs::path> models;
    for (const auto& entry : fs::directory_iterator(argv[1])) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension == ".3ds") models.push_back(entry.path());
    }
    std::sort(models.begin(), models.end());
    for (const fs::path& model : models) report(model.string(), model.filename().string(), scratch, runs);
    const std::string made = scratch + "/moving.3ds";
    const Bytes bytes = manyMovingParts(300, 100);
    std::ofstream(made, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    report(made, "300 moving parts, 100 frames", scratch, runs);
    return 0;
}
