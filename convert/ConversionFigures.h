#pragma once

#include <cstddef>

namespace kestrav {

// What one conversion made, for a batch's report.
struct ConversionFigures {
    size_t meshes = 0;
    size_t instances = 0;        // mesh instances drawn, a mesh without keyframer nodes once
    size_t texturesFound = 0;    // distinct image names found
    size_t texturesMissing = 0;  // and not found
};

}  // namespace kestrav
