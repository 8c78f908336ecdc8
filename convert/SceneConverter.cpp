#include "convert/SceneConverter.h"

#include <Inventor/nodes/SoSeparator.h>

#include <algorithm>

#include "appearance/MaterialBuilder.h"
#include "appearance/TextureBuilder.h"
#include "appearance/TextureLookup.h"
#include "convert/LineWidthQuery.h"
#include "geometry/MeshBuilder.h"
#include "transform/AnimationBuilder.h"
#include "transform/KeyframeTrack.h"
#include "transform/TransformBuilder.h"

namespace kestrav {

namespace {
const char* const kCannotReadMessage = "Cannon create database from this 3ds file.";
const char* const kDamagedPrefix = "Warning: \"";
const char* const kCutShortSuffix = "\" is damaged; only the part before the damage was converted.";
const char* const kChunksSkippedSuffix = "\" is damaged; damaged chunks were skipped and the rest was converted.";

Outcome statusOf(WalkEnd end) {
    switch (end) {
    case WalkEnd::Complete: return Outcome::Converted;
    case WalkEnd::DamagedChunksSkipped: return Outcome::DamagedChunksSkipped;
    default: return Outcome::DamageEndedWalk;
    }
}
}  // namespace

SceneConverter::SceneConverter(const Options& conversionOptions, const std::string& scenePath)
    : options(conversionOptions), folder(sceneFolderOf(scenePath)) {}

SceneConverter::~SceneConverter() {
    if (root) root->unref();
}

Outcome SceneConverter::read(const std::string& modelPath) {
    if (!database.readDatabase(modelPath.c_str())) {
        lines.push_back(kCannotReadMessage);
        return readStatus = Outcome::Unreadable;
    }
    readStatus = statusOf(database.lastWalkEnd());
    if (readStatus == Outcome::DamagedChunksSkipped)
        lines.push_back(kDamagedPrefix + modelPath + kChunksSkippedSuffix);
    else if (readStatus == Outcome::DamageEndedWalk)
        lines.push_back(kDamagedPrefix + modelPath + kCutShortSuffix);
    KeyframeList* keyframes = nullptr;
    database.getKeyframeList(keyframes);
    frame = keyframes ? placementFrame(*keyframes) : 0;
    if (options.animation) animationBuilder.reset(new AnimationBuilder(database, frame));
    textureLookup.reset(new TextureLookup(modelPath, folder, textureSearchPath(), lines));
    return readStatus;
}

SoSeparator* SceneConverter::build() {
    if (!root) {
        root = new SoSeparator;
        root->ref();
    }
    MeshList* meshList = nullptr;
    database.getMeshList(meshList);
    for (int i = 0; meshList && i < meshList->count; ++i) {
        const char* name = meshList->names[i];
        MeshRecord* mesh = nullptr;
        database.findMesh(name, mesh);
        const int instanceCount = database.countNodes(name);
        if (instanceCount == 0) convertInstance(*mesh, nullptr);
        for (int pass = 0; pass < instanceCount; ++pass) {
            KeyframeNode* node = nullptr;
            database.findNode(name, pass, node);
            convertInstance(*mesh, node);
        }
    }
    return root;
}

SoSeparator* SceneConverter::takeRoot() {
    SoSeparator* taken = root;
    root = nullptr;
    return taken;
}

void SceneConverter::convertInstance(const MeshRecord& mesh, const KeyframeNode* node) {
    SoSeparator* objectSeparator = new SoSeparator;
    int mirrored = 0;
    if (!animationBuilder || !animationBuilder->buildMovingTransform(mesh, node, objectSeparator, mirrored))
        TransformBuilder(database, frame, &mesh, node).buildTransforms(objectSeparator, mirrored);
    const int firstContent = objectSeparator->getNumChildren();

    MeshBuilder meshBuilder(&mesh, options.flatShading, objectSeparator);
    if (mesh.materialGroupCount != 0) {
        for (int group = 0; group < mesh.materialGroupCount; ++group)
            convertMaterialGroup(mesh, meshBuilder, objectSeparator, group, mirrored);
    } else {
        // A mesh without material groups is drawn whole, in the grey default
        // material, and never textured.
        SoSeparator* materialSeparator = new SoSeparator;
        MaterialBuilder(&mesh, nullptr, options.twoSided, lineWidthRange).buildMaterial(materialSeparator, mirrored);
        meshBuilder.buildGeometry(0, 0, materialSeparator);
        objectSeparator->addChild(materialSeparator);
    }
    if (animationBuilder) animationBuilder->buildVisibility(node, objectSeparator, firstContent);
    root->addChild(objectSeparator);
}

void SceneConverter::convertMaterialGroup(const MeshRecord& mesh, MeshBuilder& meshBuilder,
                                          SoSeparator* objectSeparator, int group, int mirrored) {
    SoSeparator* materialSeparator = new SoSeparator;
    MaterialRecord* material = nullptr;
    database.findMaterial(mesh.materialGroups[group].materialName, material);

    // Only wire materials (shading 0) scale their line width to OpenGL's range.
    if (material && material->shading == 0) ensureLineWidthRange();
    // A group naming a material the file does not hold looks like a mesh
    // without materials: grey default, no textures, shading 0.
    MaterialBuilder(&mesh, material, options.twoSided, lineWidthRange).buildMaterial(materialSeparator, mirrored);
    if (!options.noTextures && material)
        TextureBuilder(&mesh, material, options.bumpMaps, *textureLookup)
            .buildTextures(objectSeparator, materialSeparator);
    meshBuilder.buildGeometry(group, material ? material->shading : 0, materialSeparator);
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

}  // namespace kestrav
