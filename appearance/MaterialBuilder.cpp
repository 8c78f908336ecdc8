#include "appearance/MaterialBuilder.h"

#include <Inventor/nodes/SoDrawStyle.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoShapeHints.h>

#include <cmath>
#include <limits>

namespace kestrav {

MaterialBuilder::MaterialBuilder(const MeshRecord* mesh, const MaterialRecord* material, bool twoSided,
                                 const float range[2])
    : currentMesh(mesh), currentMaterial(material), forceTwoSided(twoSided), lineWidthRange(range) {}

void MaterialBuilder::buildMaterial(SoSeparator* materialSeparator, int mirrored) {
    SoMaterial* material = new SoMaterial;
    // A group whose material the file does not hold is drawn like a mesh
    // without materials.
    const MaterialRecord* m = currentMesh->materialGroupCount != 0 ? currentMaterial : nullptr;
    if (m) {
        material->ambientColor.setValue(m->ambient);
        material->diffuseColor.setValue(m->diffuse);
        material->specularColor.setValue(m->specular);
        material->shininess.setValue(m->shininess);
        material->emissiveColor.setValue(m->diffuse[0] * m->selfIllumination, m->diffuse[1] * m->selfIllumination,
                                         m->diffuse[2] * m->selfIllumination);
        material->transparency.setValue(std::fabs(m->transparency));

        buildShapeHints(materialSeparator, 1, mirrored);

        SoDrawStyle* drawStyle = new SoDrawStyle;
        if (m->shading != 0) {
            drawStyle->style.setValue(SoDrawStyle::FILLED);
        } else if (m->wireSize == 0.0f) {
            drawStyle->style.setValue(SoDrawStyle::INVISIBLE);
        } else {
            drawStyle->style.setValue(SoDrawStyle::LINES);
            const float minimum = lineWidthRange[0];
            const float maximum = lineWidthRange[1];
            if (maximum != 0.0f) {
                // wireSize is a percentage of the widest line OpenGL can draw.
                const float k = 100.0f / maximum;
                float w = m->wireSize / k;
                // A size whose width overflows a float is drawn as wide as
                // OpenGL allows (one below its range as narrow, just after).
                if (w > std::numeric_limits<float>::max()) w = maximum;
                drawStyle->lineWidth.setValue(w < minimum ? minimum : w);
            }
        }
        materialSeparator->addChild(drawStyle);
    } else {
        material->ambientColor.setValue(0.7f, 0.7f, 0.7f);
        material->diffuseColor.setValue(0.7f, 0.7f, 0.7f);
        material->specularColor.setValue(1.0f, 1.0f, 1.0f);
        material->shininess.setValue(0.5f);
        material->transparency.setValue(0.0f);
        buildShapeHints(materialSeparator, 0, mirrored);
    }
    materialSeparator->addChild(material);
}

void MaterialBuilder::buildShapeHints(SoSeparator* materialSeparator, int materialPresent, int mirrored) {
    SoShapeHints* hints = new SoShapeHints;
    hints->vertexOrdering.setValue(mirrored ? SoShapeHints::CLOCKWISE : SoShapeHints::COUNTERCLOCKWISE);
    const bool twoSided = forceTwoSided || (materialPresent && currentMaterial->twoSided);
    hints->shapeType.setValue(twoSided ? SoShapeHints::UNKNOWN_SHAPE_TYPE : SoShapeHints::SOLID);
    hints->creaseAngle.setValue(0.0f);
    materialSeparator->addChild(hints);
}

}  // namespace kestrav
