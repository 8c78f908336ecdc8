#pragma once

// A converter whose current mesh, material, node and separators a test sets by
// hand, so one builder can be run on records made in the test, without a file.

#include <Inventor/nodes/SoSeparator.h>

#include "appearance/TextureLookup.h"
#include "convert/SceneConverter.h"

using namespace kestrav;

class BuilderFixture : public SceneConverter {
public:
    BuilderFixture() {
        objectSeparator = new SoSeparator;
        objectSeparator->ref();
        materialSeparator = new SoSeparator;
        materialSeparator->ref();
        lineWidthRange[0] = 1.0f;
        lineWidthRange[1] = 10.0f;
        setOptions(ConverterOptions());
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
    // A fresh look-up too, for the model and output the options name.
    void setOptions(const ConverterOptions& converterOptions) {
        options = converterOptions;
        delete textureLookup;
        textureLookup = new TextureLookup(options.inputPath, sceneFolderOf(options), nullptr);
    }
    SoSeparator* objects() const { return objectSeparator; }
    SoSeparator* materials() const { return materialSeparator; }
};
