#pragma once

#include "convert/SceneConverter.h"

namespace kestrav {

// Shape hints, draw style and material of one material group; the grey default
// for a mesh without material groups or whose material is missing.
class MaterialBuilder : public SceneConverter {
public:
    explicit MaterialBuilder(SceneConverter* converter);

    void buildMaterial(int mirrored);

private:
    void buildShapeHints(int materialPresent, int mirrored);
};

}  // namespace kestrav
