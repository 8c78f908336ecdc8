// Converts each input as kestrav does, from reading the bytes to the finished
// scene graph (which is not written out), so damaged models reach the mesh,
// material, texture and transform builders too, and checks that no float field
// of the graph holds an infinity or a not-a-number, which Coin could not read
// back. The option flags come from the input's length, so flat shading,
// two-sided materials, no textures and bump maps are each taken by some inputs.
// The library prints nothing: its messages come back with the conversion.

#include <Inventor/SoDB.h>
#include <Inventor/SoType.h>
#include <Inventor/fields/SoField.h>
#include <Inventor/nodes/SoNode.h>
#include <Inventor/nodes/SoSeparator.h>

#include <cstdint>
#include <cstdio>

#include "convert/SceneConverter.h"
#include "tests/support/FiniteFields.h"

using namespace kestrav;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SoDB::init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Options options;
    options.flatShading = size & 1;
    options.twoSided = size >> 1 & 1;
    options.noTextures = size >> 2 & 1;
    options.bumpMaps = size >> 3 & 1;

    // So that wire materials go through the line-width arithmetic.
    options.lineWidths = [] { return LineWidthRange{1.0f, 10.0f}; };

    SceneConverter converter(options);
    if (converter.read(data, size) == Outcome::Unreadable) return 0;
    SoSeparator* root = converter.build();
    SoNode* owner = nullptr;
    if (const SoField* field = findNonFiniteField(root, &owner)) {
        SbName name;
        owner->getFieldName(field, name);
        std::fprintf(stderr, "not finite: %s.%s\n", owner->getTypeId().getName().getString(), name.getString());
        __builtin_trap();
    }
    return 0;
}
