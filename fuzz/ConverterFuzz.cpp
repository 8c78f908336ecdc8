// Converts each input as kestrav does, from reading the file to the finished
// scene graph (which is not written out), so damaged models reach the mesh,
// material, texture and transform builders too, and checks that no float field
// of the graph holds an infinity or a not-a-number, which Coin could not read
// back. The option flags come from the input's length, so flat shading,
// two-sided materials, no textures and bump maps are each taken by some inputs.
//
// The converter's own messages (damaged file, missing texture) would flood the
// fuzzer's log, so standard error goes to /dev/null while it runs. A crash
// report is lost with it, but libFuzzer still saves the input as crash-*;
// running the target on that file with KESTRAV_FUZZ_LOUD=1 shows the report.

#include <Inventor/SoDB.h>
#include <Inventor/SoType.h>
#include <Inventor/fields/SoField.h>
#include <Inventor/nodes/SoNode.h>
#include <Inventor/nodes/SoSeparator.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "convert/FiniteFields.h"
#include "convert/SceneConverter.h"

using namespace kestrav;

namespace {

int modelFile = -1;
int discard = -1;
bool quiet = true;

bool storeModel(const uint8_t* data, size_t size) {
    if (ftruncate(modelFile, 0) != 0) return false;
    size_t done = 0;
    while (done < size) {
        const ssize_t written = pwrite(modelFile, data + done, size - done, off_t(done));
        if (written <= 0) return false;
        done += size_t(written);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SoDB::init();
    modelFile = memfd_create("model.3ds", MFD_CLOEXEC);
    discard = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (modelFile < 0 || discard < 0) std::abort();
    // Replaying one crash: keep its report.
    quiet = std::getenv("KESTRAV_FUZZ_LOUD") == nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!storeModel(data, size)) std::abort();
    ConverterOptions options;
    options.programPath = "kestrav";
    options.inputPath = "/proc/self/fd/" + std::to_string(modelFile);
    options.viewOnly = 1;
    options.flatShading = int(size & 1);
    options.twoSided = int(size >> 1 & 1);
    options.noTextures = int(size >> 2 & 1);
    options.bumpMaps = int(size >> 3 & 1);

    const int savedError = quiet ? dup(STDERR_FILENO) : -1;
    if (quiet) dup2(discard, STDERR_FILENO);
    {
        SceneConverter converter(options);
        // A wire material would otherwise set up an OpenGL context.
        converter.setLineWidthRange(1.0f, 10.0f);
        SoSeparator* root = converter.build();
        SoNode* owner = nullptr;
        if (const SoField* field = findNonFiniteField(root, &owner)) {
            SbName name;
            owner->getFieldName(field, name);
            if (quiet) dup2(savedError, STDERR_FILENO);
            std::fprintf(stderr, "not finite: %s.%s\n", owner->getTypeId().getName().getString(), name.getString());
            __builtin_trap();
        }
        converter.release();
    }
    if (quiet) {
        dup2(savedError, STDERR_FILENO);
        close(savedError);
    }
    return 0;
}
