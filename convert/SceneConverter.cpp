#include "convert/SceneConverter.h"

#include <Inventor/nodes/SoSeparator.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>

#include "appearance/MaterialBuilder.h"
#include "appearance/TextureBuilder.h"
#include "appearance/TextureLookup.h"
#include "convert/LineWidthQuery.h"
#include "convert/SceneWriter.h"
#include "geometry/MeshBuilder.h"
#include "transform/TransformBuilder.h"

namespace kestrav {

namespace {
const char* const kCannotReadMessage = "Cannon create database from this 3ds file.\n";
const char* const kDamagedPrefix = "Warning: \"";
const char* const kCutShortSuffix = "\" is damaged; only the part before the damage was converted.\n";
const char* const kChunksSkippedSuffix = "\" is damaged; damaged chunks were skipped and the rest was converted.\n";

// The one warning line for the way the walk ended, or null for a sound file.
const char* damageSuffix(WalkEnd end) {
    switch (end) {
    case WalkEnd::Complete: return nullptr;
    case WalkEnd::DamagedChunksSkipped: return kChunksSkippedSuffix;
    default: return kCutShortSuffix;
    }
}
}  // namespace

SceneConverter::SceneConverter()
    : lineWidthRange{0.0f, 0.0f},
      meshList(nullptr),
      currentMesh(nullptr),
      currentMaterial(nullptr),
      currentNode(nullptr),
      root(nullptr),
      objectSeparator(nullptr),
      materialSeparator(nullptr),
      textureLookup(nullptr) {}

SceneConverter::SceneConverter(ConverterOptions converterOptions) : SceneConverter() {
    options = converterOptions;
    if (!database.readDatabase(options.inputPath.c_str())) {
        std::cerr << kCannotReadMessage;
        std::exit(1);
    }
    // One write per message, so the lines of conversions sharing a stderr stay whole.
    if (const char* suffix = damageSuffix(database.lastWalkEnd()))
        std::cerr << (kDamagedPrefix + options.inputPath + suffix);
    database.getMeshList(meshList);
    textureLookup = new TextureLookup(options.inputPath, sceneFolderOf(options), textureSearchPath());
    root = new SoSeparator;
    root->ref();
}

SceneConverter::~SceneConverter() { delete textureLookup; }

SoSeparator* SceneConverter::build() {
    for (int i = 0; i < meshList->count; ++i) {
        const char* name = meshList->names[i];
        database.findMesh(name, currentMesh);
        const int instanceCount = database.countNodes(name);
        for (int pass = 0; pass < std::max(instanceCount, 1); ++pass)
            convertInstance(name, pass, instanceCount);
    }

    if (!options.viewOnly) {
        std::string failure;
        writeSucceeded = writeScene(root, options.outputPath, failure,
                                    options.binaryOutput ? SceneFormat::Binary : SceneFormat::Ascii);
        if (!writeSucceeded) std::cerr << (failure + '\n');
    }
    return root;
}

void SceneConverter::convertInstance(const char* meshName, int pass, int instanceCount) {
    objectSeparator = new SoSeparator;
    int mirrored = 0;
    if (instanceCount != 0)
        database.findNode(meshName, pass, currentNode);
    else
        currentNode = nullptr;

    TransformBuilder(this).buildTransforms(mirrored);

    MeshBuilder meshBuilder(this);
    if (currentMesh->materialGroupCount != 0) {
        for (int group = 0; group < currentMesh->materialGroupCount; ++group)
            convertMaterialGroup(meshBuilder, group, mirrored);
    } else {
        // A mesh without material groups is drawn whole, in the grey default
        // material, and never textured.
        materialSeparator = new SoSeparator;
        meshBuilder.setFaceSetParent(materialSeparator);
        currentMaterial = nullptr;
        MaterialBuilder(this).buildMaterial(mirrored);
        meshBuilder.buildGeometry(0, 0);
        objectSeparator->addChild(materialSeparator);
    }
    root->addChild(objectSeparator);
}

void SceneConverter::convertMaterialGroup(MeshBuilder& meshBuilder, int group, int mirrored) {
    materialSeparator = new SoSeparator;
    meshBuilder.setFaceSetParent(materialSeparator);
    database.findMaterial(currentMesh->materialGroups[group].materialName, currentMaterial);

    // Only wire materials (shading 0) scale their line width to OpenGL's range.
    if (currentMaterial && currentMaterial->shading == 0) ensureLineWidthRange();
    // A group naming a material the file does not hold looks like a mesh
    // without materials: grey default, no textures, shading 0.
    MaterialBuilder(this).buildMaterial(mirrored);
    if (!options.noTextures && currentMaterial) TextureBuilder(this).buildTextures();
    meshBuilder.buildGeometry(group, currentMaterial ? currentMaterial->shading : 0);
    objectSeparator->addChild(materialSeparator);
}

void SceneConverter::setLineWidthRange(float minimum, float maximum) {
    lineWidthRange[0] = minimum;
    lineWidthRange[1] = maximum;
    lineWidthRangeKnown = true;
}

void SceneConverter::ensureLineWidthRange() {
    if (lineWidthRangeKnown) return;
    queryLineWidthRange(lineWidthRange);
    lineWidthRangeKnown = true;
}

void SceneConverter::release() {
    if (root) {
        root->unref();
        root = nullptr;
    }
    database.releaseDatabase();
}

}  // namespace kestrav
