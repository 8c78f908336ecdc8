#pragma once

// What the converter hands a builder, set by hand: the current mesh, material,
// node and separators, the options, a line-width range and a texture look-up,
// so one builder can be run on records made in the test, without a file.

#include <Inventor/nodes/SoSeparator.h>

#include <memory>
#include <string>
#include <vector>

#include "appearance/TextureLookup.h"
#include "cli/ConverterOptions.h"
#include "reader/ModelDatabase.h"

using namespace kestrav;

struct BuilderFixture {
    BuilderFixture() {
        objectSeparator->ref();
        materialSeparator->ref();
        setOptions(ConverterOptions());
    }
    ~BuilderFixture() {
        objectSeparator->unref();
        materialSeparator->unref();
    }
    BuilderFixture(const BuilderFixture&) = delete;
    BuilderFixture& operator=(const BuilderFixture&) = delete;

    void setMesh(const MeshRecord* record) { mesh = record; }
    void setMaterial(const MaterialRecord* record) { material = record; }
    void setNode(const KeyframeNode* record) { node = record; }
    // A fresh look-up too, for the model and output the options name.
    void setOptions(const ConverterOptions& converterOptions) {
        options = converterOptions;
        lookup.reset(new TextureLookup(options.inputPath, sceneFolderOf(options.viewOnly ? "" : options.outputPath),
                                       nullptr, messages));
    }
    SoSeparator* objects() const { return objectSeparator; }
    SoSeparator* materials() const { return materialSeparator; }

    const MeshRecord* mesh = nullptr;
    const MaterialRecord* material = nullptr;
    const KeyframeNode* node = nullptr;
    ConverterOptions options;
    float lineWidthRange[2] = {1.0f, 10.0f};
    std::vector<std::string> messages;  // what the look-up reports
    std::unique_ptr<TextureLookup> lookup;
    ModelDatabase database;  // empty: the nodes' parents are not looked up

private:
    SoSeparator* objectSeparator = new SoSeparator;
    SoSeparator* materialSeparator = new SoSeparator;
};
