#pragma once

// A converter whose current mesh, material, node and separators a test sets by
// hand, so one builder can be run on records made in the test, without a file.

#include <Inventor/nodes/SoSeparator.h>

#include "convert/SceneConverter.h"

class BuilderFixture : public SceneConverter {
public:
    BuilderFixture() {
        objectSeparator = new SoSeparator;
        objectSeparator->ref();
        materialSeparator = new SoSeparator;
        materialSeparator->ref();
        lineWidthRange[0] = 1.0f;
        lineWidthRange[1] = 10.0f;
    }
    ~BuilderFixture() {
        objectSeparator->unref();
        materialSeparator->unref();
    }
    BuilderFixture(const BuilderFixture&) = delete;
    BuilderFixture& operator=(const BuilderFixture&) = delete;

    void setMesh(MeshRecord* mesh) { currentMesh = mesh; }
    void setMaterial(MaterialRecord* material) { currentMaterial = material; }
    void setNode(KeyframeNode* node) { currentNode = node; }
    void setOptions(const ConverterOptions& converterOptions) { options = converterOptions; }
    SoSeparator* objects() const { return objectSeparator; }
    SoSeparator* materials() const { return materialSeparator; }
};
