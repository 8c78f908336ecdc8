// Converts each input as kestrav does, from reading the bytes to the finished
// scene graph (which is not written out), so damaged models reach the mesh,
// material, texture and transform builders too, and checks that no float field
// of the graph holds an infinity or a not-a-number, which Coin could not read
// back. The input's first byte picks the options, one bit each: flat shading,
// two-sided materials, no textures, bump maps, cameras and lights, animation,
// and writing the scene, in binary form with the last bit; the model is the
// rest. A written scene without animation is written a second time as the
// program writes it, each mesh instance built as the write reaches it, and
// must come out the same. fuzz/run.sh gives each seed model such a byte.
// The library prints nothing: its messages come back with the conversion.

#include <Inventor/SoDB.h>
#include <Inventor/SoType.h>
#include <Inventor/fields/SoField.h>
#include <Inventor/nodes/SoNode.h>
#include <Inventor/nodes/SoSeparator.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "tests/support/FiniteFields.h"

using namespace kestrav;

namespace {
std::string scratchPath(const char* what) {
    return "/tmp/converter-fuzz-" + std::to_string(getpid()) + "-" + what + ".iv";
}

std::string contents(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SoDB::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned bits = data[0];
    Options options;
    options.flatShading = bits & 1;
    options.twoSided = bits >> 1 & 1;
    options.noTextures = bits >> 2 & 1;
    options.bumpMaps = bits >> 3 & 1;
    options.lights = bits >> 4 & 1;
    options.animation = bits >> 5 & 1;
    const bool writeScene = bits >> 6 & 1;
    const bool binary = bits >> 7 & 1;
    options.threads = 1;

    // So that wire materials go through the line-width arithmetic.
    options.lineWidths = [] { return LineWidthRange{1.0f, 10.0f}; };

    SceneConverter converter(options);
    if (converter.read(data + 1, size - 1) == Outcome::Unreadable) return 0;
    SoSeparator* root = converter.build();
    SoNode* owner = nullptr;
    if (const SoField* field = findNonFiniteField(root, &owner)) {
        SbName name;
        owner->getFieldName(field, name);
        std::fprintf(stderr, "not finite: %s.%s\n", owner->getTypeId().getName().getString(), name.getString());
        __builtin_trap();
    }
    if (!writeScene) return 0;
    const SceneFormat format = binary ? SceneFormat::Binary : SceneFormat::Ascii;
    const std::string whole = scratchPath("whole"), streamed = scratchPath("streamed");
    std::string failure;
    if (!kestrav::writeScene(root, whole, failure, format)) {
        std::fprintf(stderr, "the scene could not be written: %s\n", failure.c_str());
        __builtin_trap();
    }
    if (!options.animation) {
        SceneConverter parts(options);
        parts.read(data + 1, size - 1);
        const bool written = kestrav::writeScene(parts.buildFrame(), streamed, failure, format, nullptr, 1,
                                                 [&parts](const SoNode* node) { return parts.buildPart(node); });
        if (!written || contents(streamed) != contents(whole)) {
            std::fprintf(stderr, "the scene built as it is written differs\n");
            __builtin_trap();
        }
        unlink(streamed.c_str());
    }
    unlink(whole.c_str());
    return 0;
}
