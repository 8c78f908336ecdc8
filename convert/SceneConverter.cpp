#include "convert/SceneConverter.h"

#include <Inventor/nodes/SoEnvironment.h>
#include <Inventor/nodes/SoLight.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoSwitch.h>

#include <algorithm>
#include <cstring>

#include "appearance/MaterialBuilder.h"
#include "appearance/TextureBuilder.h"
#include "appearance/TextureLookup.h"
#include "convert/OrderedWork.h"
#include "convert/ProcessorCount.h"
#include "geometry/MeshBuilder.h"
#include "lighting/CameraBuilder.h"
#include "lighting/LightBuilder.h"
#include "lighting/LightingAnimation.h"
#include "lighting/LightingPlacement.h"
#include "transform/AnimationBuilder.h"
#include "transform/KeyframeTrack.h"
#include "transform/TransformBuilder.h"

namespace kestrav {

namespace {
const char* const kDamagedPrefix = "\"";
const char* const kCutShortSuffix = "\" is damaged; only the part before the damage was converted.";
const char* const kChunksSkippedSuffix = "\" is damaged; damaged chunks were skipped and the rest was converted.";
// Below this many faces in all, a model is built on the calling thread alone:
// starting a thread costs tens of microseconds, and working out that many
// faces a few milliseconds.
constexpr size_t kFacesForThreads = 16384;

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

void addOnce(std::vector<std::string>& names, const char* name) {
    if (name && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

// Which file, and why it gives no model.
std::string whyUnreadable(const std::string& path, ModelFileKind kind, int error) {
    switch (kind) {
    case ModelFileKind::Empty: return quoted(path) + " is empty, not a 3DS model";
    case ModelFileKind::NotAModel: return quoted(path) + " is not a 3DS model";
    default: return "Cannot read " + quoted(path) + ": " + std::strerror(error);
    }
}

Outcome statusOf(WalkEnd end) {
    switch (end) {
    case WalkEnd::Complete: return Outcome::Converted;
    case WalkEnd::DamagedChunksSkipped: return Outcome::DamagedChunksSkipped;
    default: return Outcome::DamageEndedWalk;
    }
}
}  // namespace

SceneConverter::SceneConverter(const Options& conversionOptions, const std::string& scene,
                               const TextureArchive* textureArchive)
    : options(conversionOptions), scenePath(scene), folder(sceneFolderOf(scene)), archive(textureArchive) {}

SceneConverter::~SceneConverter() {
    // The workers end before what they work on.
    workAhead.reset();
    if (root) root->unref();
}

std::string outOfMemoryLine(const std::string& modelPath) {
    return "not enough memory to convert " + quoted(modelPath);
}

Outcome SceneConverter::read(const std::string& modelPath) {
    // The file's bytes live until the walk has copied what it keeps.
    const ModelFile file = readModelFile(modelPath);
    return readModel(modelPath, modelPath, file.kind, file.error, file.bytes.get(), file.size);
}

Outcome SceneConverter::read(const void* bytes, size_t size) {
    const uint8_t* model = static_cast<const uint8_t*>(bytes);
    return readModel(kModelInMemory, scenePath, kindOfModel(model, size), 0, model, size);
}

Outcome SceneConverter::readModel(const std::string& modelName, const std::string& modelPath, ModelFileKind kind,
                                  int error, const uint8_t* bytes, size_t size) {
    if (kind == ModelFileKind::CannotRead || kind == ModelFileKind::Empty || kind == ModelFileKind::NotAModel) {
        lines.push_back({Message::Kind::Error, whyUnreadable(modelName, kind, error)});
        return readStatus = Outcome::Unreadable;
    }
    if (kind == ModelFileKind::OutOfMemory || !database.readDatabase(bytes, size)) {
        lines.push_back({Message::Kind::Error, outOfMemoryLine(modelName)});
        return readStatus = Outcome::OutOfMemory;
    }
    readStatus = statusOf(database.lastWalkEnd());
    // Damaged cameras and lights matter only to a conversion that adds them.
    if (options.lights && database.lightingList().damaged && readStatus == Outcome::Converted)
        readStatus = Outcome::DamagedChunksSkipped;
    if (readStatus == Outcome::DamagedChunksSkipped)
        lines.push_back({Message::Kind::Warning, kDamagedPrefix + modelName + kChunksSkippedSuffix});
    else if (readStatus == Outcome::DamageEndedWalk)
        lines.push_back({Message::Kind::Warning, kDamagedPrefix + modelName + kCutShortSuffix});
    const KeyframeList& keyframes = database.keyframeList();
    links = ModelLinks(database.meshList(), keyframes);
    frame = placementFrame(keyframes);
    if (options.animation) animationBuilder.reset(new AnimationBuilder(database, frame));
    textureLookup.reset(new TextureLookup(modelPath, folder, options.textureSearchPath.c_str(), textureNotes, archive));
    return readStatus;
}

SoSeparator* SceneConverter::build() {
    buildFrame();
    for (SoSeparator* part : parts) buildPart(part);
    return root;
}

SoSeparator* SceneConverter::buildFrame() {
    if (!root) {
        root = new SoSeparator;
        root->ref();
    }
    if (options.lights) addCamerasAndLights();
    // A mesh's arrays go once its last instance is in the scene, which holds
    // their copies from then on: the model and the scene are not both held whole.
    const std::vector<MeshInstance>& instances = links.instances();
    lastInstance.assign(database.meshList().count, instances.size());
    for (size_t i = 0; i < instances.size(); ++i) lastInstance[instances[i].mesh] = i;
    for (size_t mesh = 0; mesh < lastInstance.size(); ++mesh)
        if (lastInstance[mesh] == instances.size()) database.releaseMeshGeometry(mesh);
    lookUpImages();
    parts.reserve(instances.size());
    for (size_t i = 0; i < instances.size(); ++i) {
        SoSeparator* part = new SoSeparator;
        root->addChild(part);
        parts.push_back(part);
        ++instancesDrawn;
    }
    // One per thread, reused from instance to instance.
    threadGeometry = std::vector<MeshGeometry>(buildThreads());
    return root;
}

bool SceneConverter::buildPart(const SoNode* part) {
    if (nextPart == parts.size() || part != parts[nextPart]) return false;
    const size_t i = nextPart++;
    const std::vector<MeshInstance>& instances = links.instances();
    const MeshRecord* records = database.meshList().records;
    const MeshInstance& instance = instances[i];
    if (threadGeometry.size() == 1) {
        convertInstance(records[instance.mesh], links.chainOf(instance.node), nullptr, threadGeometry[0], parts[i]);
    } else {
        // Workers work the instances out ahead of this thread, which alone
        // creates nodes, in the scene's order, and gives them the arrays the
        // workers filled. Instance i starts only once instance i - ahead is
        // in the scene, so `ahead` entries, used in turn, hold every instance
        // in flight.
        const size_t ahead = 2 * threadGeometry.size();
        if (!workAhead) {
            facesAhead.resize(ahead);
            workAhead.reset(new OrderedWork(instances.size(), unsigned(threadGeometry.size()), ahead,
                                            [this, ahead](size_t item, unsigned worker) {
                                                const MeshRecord& mesh =
                                                    database.meshList().records[links.instances()[item].mesh];
                                                instanceFaces(mesh, threadGeometry[worker], facesAhead[item % ahead]);
                                            }));
        }
        workAhead->take(i);
        convertInstance(records[instance.mesh], links.chainOf(instance.node), &facesAhead[i % ahead], threadGeometry[0],
                        parts[i]);
    }
    if (lastInstance[instance.mesh] == i) database.releaseMeshGeometry(instance.mesh);
    if (nextPart == parts.size()) {
        // The last part: the workers have ended, and their tables go.
        workAhead.reset();
        facesAhead = std::vector<InstanceFaces>();
        threadGeometry = std::vector<MeshGeometry>();
    }
    return true;
}

void SceneConverter::lookUpImages() {
    if (options.noTextures) return;
    const MeshRecord* records = database.meshList().records;
    for (const MeshInstance& instance : links.instances()) {
        const MeshRecord& mesh = records[instance.mesh];
        for (int group = 0; group < mesh.materialGroupCount; ++group)
            if (const MaterialRecord* material = database.findMaterial(mesh.materialGroups[group].materialName)) {
                const TextureBuilder::ImageNames names =
                    TextureBuilder(&mesh, material, options.bumpMaps, *textureLookup).lookUpImages();
                addOnce(textureImages, names.texture);
                addOnce(bumpImages, names.bump);
            }
    }
}

std::vector<std::string> SceneConverter::imageNames() const {
    std::vector<std::string> names = textureImages;
    names.insert(names.end(), bumpImages.begin(), bumpImages.end());
    return names;
}

unsigned SceneConverter::buildThreads() const {
    const std::vector<MeshInstance>& instances = links.instances();
    if (instances.size() < 2) return 1;
    size_t faces = 0;
    for (const MeshInstance& instance : instances) faces += database.meshList().records[instance.mesh].faceCount;
    return faces < kFacesForThreads ? 1 : unsigned(threadsFor(options.threads));
}

void SceneConverter::instanceFaces(const MeshRecord& mesh, MeshGeometry& geometry, InstanceFaces& faces) const {
    geometry.reset(&mesh, options.flatShading);
    const size_t groups = mesh.materialGroupCount == 0 ? 1 : mesh.materialGroupCount;
    faces.groups.resize(groups);
    for (GroupFaces& group : faces.groups) group.clear();
    if (mesh.materialGroupCount == 0) {
        geometry.groupFaces(0, 0, faces.groups[0]);
        return;
    }
    for (int group = 0; group < mesh.materialGroupCount; ++group) {
        const MaterialRecord* material = database.findMaterial(mesh.materialGroups[group].materialName);
        geometry.groupFaces(group, material ? material->shading : 0, faces.groups[size_t(group)]);
    }
}

ConversionFigures SceneConverter::figures() const {
    ConversionFigures made;
    made.meshes = database.meshList().count;
    made.instances = instancesDrawn;
    if (textureLookup) {
        made.texturesFound = textureLookup->foundCount();
        made.texturesMissing = textureLookup->missingCount();
    }
    return made;
}

SoSeparator* SceneConverter::takeRoot() {
    SoSeparator* taken = root;
    root = nullptr;
    return taken;
}

void SceneConverter::convertInstance(const MeshRecord& mesh, const NodeChain& chain, InstanceFaces* faces,
                                     MeshGeometry& geometry, SoSeparator* objectSeparator) {
    int mirrored = 0;
    if (!animationBuilder || !animationBuilder->buildMovingTransform(mesh, chain, objectSeparator, mirrored))
        TransformBuilder(mesh, chain).buildTransforms(frame, objectSeparator, mirrored);
    const int firstContent = objectSeparator->getNumChildren();

    // Worked out here unless a worker did it before.
    std::unique_ptr<MeshBuilder> meshBuilder;
    if (!faces) meshBuilder.reset(new MeshBuilder(geometry, &mesh, options.flatShading, objectSeparator));
    const auto buildGeometry = [&](int group, int shading, SoSeparator* faceSetParent) {
        if (faces)
            MeshBuilder::buildGeometry(&mesh, faces->groups[size_t(group)], objectSeparator, faceSetParent);
        else
            meshBuilder->buildGeometry(group, shading, faceSetParent);
    };
    if (mesh.materialGroupCount != 0) {
        for (int group = 0; group < mesh.materialGroupCount; ++group)
            convertMaterialGroup(mesh, buildGeometry, objectSeparator, group, mirrored);
    } else {
        // A mesh without material groups is drawn whole, in the grey default
        // material, and never textured.
        SoSeparator* materialSeparator = new SoSeparator;
        MaterialBuilder(&mesh, nullptr, options.twoSided, lineWidthRange).buildMaterial(materialSeparator, mirrored);
        buildGeometry(0, 0, materialSeparator);
        objectSeparator->addChild(materialSeparator);
    }
    if (animationBuilder)
        animationBuilder->buildVisibility(chain.empty() ? nullptr : chain[0]->record, objectSeparator, firstContent);
}

void SceneConverter::convertMaterialGroup(const MeshRecord& mesh, const GeometryBuild& buildGeometry,
                                          SoSeparator* objectSeparator, int group, int mirrored) {
    SoSeparator* materialSeparator = new SoSeparator;
    const MaterialRecord* material = database.findMaterial(mesh.materialGroups[group].materialName);

    // Only wire materials (shading 0) scale their line width to OpenGL's range.
    if (material && material->shading == 0) ensureLineWidthRange();
    // A group naming a material the file does not hold looks like a mesh
    // without materials: grey default, no textures, shading 0.
    MaterialBuilder(&mesh, material, options.twoSided, lineWidthRange).buildMaterial(materialSeparator, mirrored);
    if (!options.noTextures && material)
        TextureBuilder(&mesh, material, options.bumpMaps, *textureLookup)
            .buildTextures(objectSeparator, materialSeparator);
    buildGeometry(group, material ? material->shading : 0, materialSeparator);
    objectSeparator->addChild(materialSeparator);
}

// The first camera is the scene's; the others wait under a switch that shows
// none. Lights come before the geometry so they light all of it.
void SceneConverter::addCamerasAndLights() {
    const LightingList& lighting = database.lightingList();
    const LightingPlacement placement(database, links, frame);
    std::unique_ptr<LightingAnimation> motion;
    if (animationBuilder) motion.reset(new LightingAnimation(database, links, *animationBuilder));
    SoSwitch* otherCameras = nullptr;
    for (size_t i = 0; i < lighting.cameraCount; ++i) {
        const CameraRecord& record = lighting.cameras[i];
        SoPerspectiveCamera* camera = CameraBuilder(record.name, placement.cameraAt(record)).buildCamera();
        if (motion) motion->animateCamera(record, camera);
        if (i == 0) {
            root->addChild(camera);
            continue;
        }
        if (!otherCameras) {
            otherCameras = new SoSwitch;
            otherCameras->whichChild = SO_SWITCH_NONE;
            root->addChild(otherCameras);
        }
        otherCameras->addChild(camera);
    }
    SbVec3f ambient;
    if (placement.ambientAt(lighting, ambient)) root->addChild(LightBuilder::buildEnvironment(ambient));
    for (size_t i = 0; i < lighting.lightCount; ++i) {
        const LightRecord& record = lighting.lights[i];
        SoLight* light = LightBuilder(record.name, placement.lightAt(record)).buildLight();
        if (motion) motion->animateLight(record, light);
        root->addChild(light);
    }
}

bool SceneConverter::background(float out[3]) const {
    const LightingList& lighting = database.lightingList();
    if (!options.lights || !lighting.hasBackground || !lighting.useBackground) return false;
    for (int i = 0; i < 3; ++i) out[i] = lighting.background[i];
    return true;
}

std::vector<Message> SceneConverter::messages() const {
    // The texture look-ups come during the build, after every line of the read.
    std::vector<Message> all = lines;
    for (const std::string& note : textureNotes) all.push_back({Message::Kind::Note, note});
    return all;
}

void SceneConverter::ensureLineWidthRange() {
    if (lineWidthRangeKnown) return;
    lineWidthRangeKnown = true;
    if (!options.lineWidths) return;
    const LineWidthRange range = options.lineWidths();
    lineWidthRange[0] = range.smallest;
    lineWidthRange[1] = range.largest;
}

}  // namespace kestrav
