#pragma once

#include "reader/ModelRecords.h"

class SoSeparator;

namespace kestrav {

// Shape hints, draw style and material of one material group; the grey default
// for a mesh without material groups or whose material is missing (null).
class MaterialBuilder {
public:
    // lineWidthRange is OpenGL's smallest and largest line width, (0, 0) when
    // unknown; it must outlive the builder.
    MaterialBuilder(const MeshRecord* mesh, const MaterialRecord* material, bool twoSided,
                    const float lineWidthRange[2]);

    void buildMaterial(SoSeparator* materialSeparator, int mirrored);

private:
    void buildShapeHints(SoSeparator* materialSeparator, int materialPresent, int mirrored);

    const MeshRecord* currentMesh;
    const MaterialRecord* currentMaterial;
    bool forceTwoSided;
    const float* lineWidthRange;
};

}  // namespace kestrav
