#pragma once

#include <string>

#include "cli/ConverterOptions.h"
#include "reader/ModelDatabase.h"

class SoSeparator;

namespace kestrav {
class TextureLookup;

// Reads the model, builds the scene one mesh instance and material group at a
// time, and writes it. The same class is the base of the four node builders,
// which take over its current mesh, node, material and separators when they are
// constructed.
class SceneConverter {
public:
    // Reads options.inputPath; when it cannot be read, prints the message and
    // ends the process with status 1.
    explicit SceneConverter(ConverterOptions converterOptions);
    ~SceneConverter();
    SceneConverter(const SceneConverter&) = delete;
    SceneConverter& operator=(const SceneConverter&) = delete;

    // Builds the scene and, unless viewOnly is set, writes it. Returns the root.
    SoSeparator* build();
    // Drops the reference to the root and frees the model.
    void release();
    // False when the scene should have been written and could not be.
    bool outputWritten() const { return writeSucceeded; }

    MeshRecord* getCurrentMesh() const { return currentMesh; }
    MaterialRecord* getCurrentMaterial() const { return currentMaterial; }
    KeyframeNode* getCurrentNode() const { return currentNode; }
    SoSeparator* getObjectSeparator() const { return objectSeparator; }
    SoSeparator* getMaterialSeparator() const { return materialSeparator; }
    ConverterOptions getOptions() const { return options; }
    ModelDatabase* getDatabase() { return &database; }
    // Finds the model's images; the converter's own, for the whole conversion.
    TextureLookup* getTextureLookup() const { return textureLookup; }

    // Smallest and largest OpenGL line width. Asked of OpenGL only when a wire
    // material needs it, since setting up a context costs more than converting
    // a small model; tests may set their own.
    float lineWidthRange[2];
    void setLineWidthRange(float minimum, float maximum);

protected:
    // The builder form: default options, nothing else set.
    SceneConverter();

    MeshList* meshList;
    MeshRecord* currentMesh;
    MaterialRecord* currentMaterial;
    KeyframeNode* currentNode;
    SoSeparator* root;
    SoSeparator* objectSeparator;
    SoSeparator* materialSeparator;
    ConverterOptions options;
    ModelDatabase database;
    // Owned: made by the converter form, none in the builder form.
    TextureLookup* textureLookup;

private:
    void convertInstance(const char* meshName, int pass, int instanceCount);
    void convertMaterialGroup(class MeshBuilder& meshBuilder, int group, int mirrored);
    void ensureLineWidthRange();

    bool writeSucceeded = true;
    bool lineWidthRangeKnown = false;
};

}  // namespace kestrav
