#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "convert/ConversionFigures.h"
#include "geometry/MeshGeometry.h"
#include "kestrav/kestrav.h"
#include "reader/ModelDatabase.h"
#include "reader/ModelFile.h"
#include "transform/ModelLinks.h"

class SoNode;
class SoSeparator;

namespace kestrav {

class AnimationBuilder;
class OrderedWork;
class TextureArchive;
class TextureLookup;

// One conversion: reads one model, builds its scene one mesh instance and
// material group at a time, and collects the lines meant for the user. It
// knows every builder and hands each what it needs; nothing is shared with
// another conversion.
// The line that says memory ran out while converting the model at modelPath.
std::string outOfMemoryLine(const std::string& modelPath);

// The name a model read from memory goes by in the lines for the user.
constexpr const char* kModelInMemory = "<memory>";

class SceneConverter {
public:
    // scenePath is where the scene is going to be written (empty: the current
    // directory), so image names can be made relative to its folder; images
    // not found beside the model are looked for in archive (null: none), which
    // must outlive the converter.
    explicit SceneConverter(const Options& options, const std::string& scenePath = "",
                            const TextureArchive* archive = nullptr);
    ~SceneConverter();
    SceneConverter(const SceneConverter&) = delete;
    SceneConverter& operator=(const SceneConverter&) = delete;

    // Reads the model; Unreadable (with its error) when the file cannot be
    // read or is no 3DS model, OutOfMemory when memory ran out, else how the
    // walk ended.
    Outcome read(const std::string& modelPath);
    // The same for a model of size bytes in memory, named kModelInMemory in
    // the lines; its images are looked for as if it lay beside the scene.
    Outcome read(const void* bytes, size_t size);
    // Builds the scene of the model read and returns its root, which the
    // converter holds a reference to until takeRoot or its end. Called once
    // (or buildFrame once): it frees each mesh's arrays as soon as the scene
    // holds them.
    SoSeparator* build();
    // Builds the scene's frame instead, and returns its root as build does:
    // the cameras and lights, and an empty separator for each mesh instance,
    // filled by buildPart, so that a scene can be written without ever being
    // held whole. Images are looked up here, in the order build looks them up.
    SoSeparator* buildFrame();
    // Fills part with its mesh instance when it is the next empty separator
    // of the frame; false, with nothing done, for any other node. The parts
    // are filled in order, each once; the threads that work instances out
    // ahead run from the first part to the last.
    bool buildPart(const SoNode* part);
    // Hands the converter's reference to the root over to the caller.
    SoSeparator* takeRoot();

    Outcome status() const { return readStatus; }
    // The lines for the user so far, in the order they arose.
    std::vector<Message> messages() const;
    // The model read, for figures about it.
    const ModelDatabase& model() const { return database; }
    // The animation kept with Options::animation, null without it or before read.
    const AnimationBuilder* animation() const { return animationBuilder.get(); }
    // The images the scene names, each once: those of its textures, then
    // those of its bump maps, in the scene's order; known from buildFrame on.
    std::vector<std::string> imageNames() const;
    // Folder the scene's image names are relative to (empty: current directory).
    const std::string& sceneFolder() const { return folder; }
    // What build made.
    ConversionFigures figures() const;

    // With the lights option, the solid background colour of a file that uses
    // one; false otherwise.
    bool background(float out[3]) const;

private:
    // modelName is the model's in the lines, modelPath the path its images are
    // looked for beside; kind and error say what reading its bytes gave.
    Outcome readModel(const std::string& modelName, const std::string& modelPath, ModelFileKind kind, int error,
                      const uint8_t* bytes, size_t size);
    // The face sets of an instance, one entry per material group (one for a
    // mesh without them): worked out on any thread, turned into nodes on this one.
    struct InstanceFaces {
        std::vector<GroupFaces> groups;
    };
    // Fills faces, with new arrays for the sets whose arrays went to nodes;
    // geometry is the calling thread's own, reused from mesh to mesh.
    void instanceFaces(const MeshRecord& mesh, MeshGeometry& geometry, InstanceFaces& faces) const;
    // Threads to work the instances out with: 1 unless the model is big enough to gain.
    unsigned buildThreads() const;
    // Looks up the images of every instance's material groups, in the order
    // convertInstance does.
    void lookUpImages();
    // Fills objectSeparator. faces: the instance's, worked out before (their
    // arrays pass to the nodes), or null to work them out now in geometry.
    void convertInstance(const MeshRecord& mesh, const NodeChain& chain, InstanceFaces* faces,
                         MeshGeometry& geometry, SoSeparator* objectSeparator);
    // Builds a material group's coordinates and face sets under a parent.
    using GeometryBuild = std::function<void(int group, int shading, SoSeparator* faceSetParent)>;
    void convertMaterialGroup(const MeshRecord& mesh, const GeometryBuild& buildGeometry,
                              SoSeparator* objectSeparator, int group, int mirrored);
    void ensureLineWidthRange();
    void addCamerasAndLights();

    Options options;
    std::string scenePath;
    std::string folder;
    const TextureArchive* archive;
    ModelDatabase database;
    ModelLinks links;
    size_t instancesDrawn = 0;
    // The frame's empty separators, one per instance, and the next to fill.
    std::vector<SoSeparator*> parts;
    size_t nextPart = 0;
    // From the frame to the last part: the last instance of each mesh, and
    // the tables, faces and workers of the instances in flight.
    std::vector<size_t> lastInstance;
    std::vector<MeshGeometry> threadGeometry;
    std::vector<InstanceFaces> facesAhead;
    std::unique_ptr<OrderedWork> workAhead;
    std::unique_ptr<TextureLookup> textureLookup;
    std::unique_ptr<AnimationBuilder> animationBuilder;
    SoSeparator* root = nullptr;
    uint32_t frame = 0;
    Outcome readStatus = Outcome::Unreadable;
    std::vector<Message> lines;        // from the read
    std::vector<std::string> textureNotes;  // from the texture look-ups
    std::vector<std::string> textureImages, bumpImages;  // found, each once
    // Asked of Options::lineWidths only when a wire material needs it.
    float lineWidthRange[2] = {0.0f, 0.0f};
    bool lineWidthRangeKnown = false;
};

}  // namespace kestrav
