#include "cli/ConverterOptions.h"

namespace kestrav {

ConverterOptions::ConverterOptions()
    : flatShading(0), noTextures(0), examineViewer(0), twoSided(0), viewOnly(0), bumpMaps(0), binaryOutput(0) {}

ConverterOptions::ConverterOptions(const ConverterOptions& other) = default;

ConverterOptions& ConverterOptions::operator=(const ConverterOptions& other) = default;

}  // namespace kestrav
