// Converts whole models and checks that every mesh instance of the written
// scene comes back to the world positions that the 3DS file stores for it.

#include <Inventor/SbBox3f.h>
#include <Inventor/SbLinear.h>
#include <Inventor/SbViewportRegion.h>
#include <Inventor/SoPath.h>
#include <Inventor/SbVec3d.h>
#include <Inventor/SoPrimitiveVertex.h>
#include <Inventor/actions/SoCallbackAction.h>
#include <Inventor/actions/SoGetMatrixAction.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/lists/SoPathList.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoShape.h>
#include <Inventor/nodes/SoShapeHints.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "reader/ModelDatabase.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/ModelChunks.h"
#include "transform/ModelLinks.h"

using namespace kestrav;

namespace {

using Points = std::vector<SbVec3f>;

// Every coordinate node of the scene in world space, grouped by the object
// separator that holds it, in traversal order.
std::vector<std::vector<Points>> worldCoordinates(SoSeparator* root) {
    SoSearchAction search;
    search.setType(SoCoordinate3::getClassTypeId());
    search.setInterest(SoSearchAction::ALL);
    search.apply(root);
    const SoPathList& paths = search.getPaths();

    std::vector<SoNode*> objects;
    std::vector<std::vector<Points>> grouped;
    for (int i = 0; i < paths.getLength(); ++i) {
        SoPath* path = paths[i];
        SoNode* object = path->getNodeFromTail(1);
        if (objects.empty() || objects.back() != object) {
            objects.push_back(object);
            grouped.emplace_back();
        }
        SoGetMatrixAction action(SbViewportRegion(100, 100));
        action.apply(path);
        const SoMFVec3f& point = static_cast<SoCoordinate3*>(path->getTail())->point;
        Points world(point.getNum());
        for (int k = 0; k < point.getNum(); ++k) action.getMatrix().multVecMatrix(point[k], world[k]);
        grouped.back().push_back(world);
    }
    return grouped;
}

float diagonal(const std::vector<Points>& sets) {
    SbBox3f box;
    for (const Points& points : sets)
        for (const SbVec3f& p : points) box.extendBy(p);
    return box.isEmpty() ? 0.0f : (box.getMax() - box.getMin()).length();
}

// The largest distance between an instance's coordinate sets and the points it should have.
float deviation(const std::vector<Points>& sets, const Points& want) {
    float largest = 0.0f;
    for (const Points& got : sets) {
        if (got.size() != want.size()) return INFINITY;
        for (size_t k = 0; k < got.size(); ++k) largest = std::max(largest, (got[k] - want[k]).length());
    }
    return largest;
}

// ---- Corpus ------------------------------------------------------------------

struct Instance {
    std::string mesh;
    std::string node;  // full name of the keyframer node, empty without one
    Points stored;
};

// The mesh instances in the order the converter writes them, each with the
// vertices its mesh stores.
std::vector<Instance> storedInstances(const std::string& path) {
    std::vector<Instance> instances;
    ModelDatabase database;
    if (!database.readDatabase(path.c_str())) return instances;
    const MeshList& meshes = database.meshList();
    const KeyframeList& keyframes = database.keyframeList();
    const ModelLinks links(meshes, keyframes);
    for (const MeshInstance& placed : links.instances()) {
        const MeshRecord& mesh = meshes.records[placed.mesh];
        Instance instance{meshes.names[placed.mesh], "", {}};
        if (placed.node != kNoNode) {
            const KeyframeNode& node = keyframes.nodes[placed.node];
            instance.node = node.instanceName[0] ? std::string(node.name) + "." + node.instanceName : node.name;
        }
        for (int k = 0; k < mesh.vertexCount; ++k) instance.stored.emplace_back(&mesh.vertices[3 * k]);
        instances.push_back(instance);
    }
    database.releaseDatabase();
    return instances;
}

// Instances that cannot come back in place, for a reason in the file: a parent
// camera whose orientation is never read.
bool knownOutOfPlace(const std::string& model, const std::string& mesh) {
    return model == "CameraRollAnimWithChildObject.3ds" && mesh == "Box02";
}

std::vector<std::filesystem::path> corpusModels() {
    std::vector<std::filesystem::path> models;
    if (!corpusIsThere()) return models;
    for (const auto& entry : std::filesystem::directory_iterator(corpusFolder())) {
        std::string extension = entry.path().extension().string();
        std::transform(extension.begin(), extension.end(), extension.begin(), ::tolower);
        if (extension == ".3ds") models.push_back(entry.path());
    }
    std::sort(models.begin(), models.end());
    return models;
}

TEST(Placement, EveryCorpusInstanceComesBackToItsStoredVertices) {
    const std::vector<std::filesystem::path> models = corpusModels();
    if (models.empty()) GTEST_SKIP() << "KESTRAV_CORPUS names no folder with 3DS models";

    for (const std::filesystem::path& model : models) {
        const std::string fileName = model.filename().string();
        SCOPED_TRACE(fileName);
        // The converter writes its scene beside the input, so it reads a copy.
        const std::string copy = writeScratchFile(fileName, [&] {
            const std::string text = readTextFile(model.string());
            return Bytes(text.begin(), text.end());
        }());
        const std::vector<Instance> instances = storedInstances(copy);
        ConvertedScene scene = convertFile(copy);
        ASSERT_TRUE(scene.root);
        const std::vector<std::vector<Points>> world = worldCoordinates(scene.root);
        ASSERT_EQ(world.size(), instances.size());

        std::vector<Points> stored;
        for (const Instance& instance : instances) stored.push_back(instance.stored);
        const float size = diagonal(stored);

        float largest = 0.0f;
        for (size_t i = 0; i < instances.size(); ++i) {
            const Instance& instance = instances[i];
            const float off = deviation(world[i], instance.stored);
            const bool exempt = knownOutOfPlace(fileName, instance.mesh);
            std::printf("placement %-36s %-10s node %-12s deviation %.3g (relative %.3g)%s\n", fileName.c_str(),
                        instance.mesh.c_str(), instance.node.c_str(), off, off / size,
                        exempt ? ", known to be out of place" : "");
            if (exempt) continue;
            largest = std::max(largest, off);
            EXPECT_LE(off, 1e-5f * size) << instance.mesh << " (node " << instance.node << ")";
        }
        std::printf("placement %-36s largest deviation %.3g of size %.4g (relative %.3g)\n", fileName.c_str(),
                    largest, size, largest / size);
    }
}

// ---- Scenes written by the test ------------------------------------------------

const float kPi = 3.14159265f;

struct SceneNode {
    std::string name;  // the mesh it places; "$$$DUMMY" for a dummy
    std::string instance;
    int parent = -1;  // index into the scene's nodes
    // The pose at the frame the file is saved at: what the stored vertices show.
    SbVec3f pivot{0, 0, 0};
    SbVec3f position{0, 0, 0};
    SbVec3f axis{0, 0, 1};
    float angle = 0.0f;
    SbVec3f scale{1, 1, 1};
    // The node's tracks when they hold more than that pose as one key.
    std::vector<Chunk3ds> tracks = {};
};

struct SceneMesh {
    std::string name;
    int node;  // the node whose placement the stored vertices show
    bool mirrored = false;  // the frame mirrors on top of the node's placement
};

// Local points of an irregular box, so a wrong axis, sign or scale shows.
// Point i is the corner with x, y and z from bits 0, 1 and 2 of i, the last one
// pulled out; the faces close it and face outward counterclockwise.
const Points kLocalPoints = {{-0.5f, -1, -1.5f}, {0.5f, -1, -1.5f}, {-0.5f, 1, -1.5f}, {0.5f, 1, -1.5f},
                             {-0.5f, -1, 1.5f},  {0.5f, -1, 1.5f},  {-0.5f, 1, 1.5f},  {0.7f, 1.3f, 1.9f}};
const std::vector<Face> kBoxFaces = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                     {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};

// A node's placement in the world: its own scale, turn by minus its angle and
// position, then its parent's.
SbMatrix worldOf(const std::vector<SceneNode>& nodes, int i) {
    const SceneNode& node = nodes[i];
    SbMatrix m, turn, move;
    m.setScale(node.scale);
    turn.makeIdentity();
    if (node.axis != SbVec3f(0, 0, 0)) turn.setRotate(SbRotation(node.axis, -node.angle));
    move.setTranslate(node.position);
    m.multRight(turn);
    m.multRight(move);
    if (node.parent >= 0) m.multRight(worldOf(nodes, node.parent));
    return m;
}

// Where a local point of the mesh goes for a node: pivot, mirror, then the node's world placement.
SbMatrix meshToWorld(const std::vector<SceneNode>& nodes, int node, bool mirrored) {
    SbMatrix m, mirror;
    m.setTranslate(-nodes[node].pivot);
    mirror.setScale(SbVec3f(mirrored ? -1.0f : 1.0f, 1, 1));
    m.multRight(mirror);
    m.multRight(worldOf(nodes, node));
    return m;
}

Points placed(const SbMatrix& m) {
    Points out(kLocalPoints.size());
    for (size_t k = 0; k < out.size(); ++k) m.multVecMatrix(kLocalPoints[k], out[k]);
    return out;
}

// The stored triangles face outward counterclockwise where they are stored,
// as modelling programs write them, whatever the frame.
Chunk3ds meshChunk(const SceneMesh& mesh, const std::vector<SceneNode>& nodes) {
    const SbMatrix frame = meshToWorld(nodes, mesh.node, mesh.mirrored);
    Chunk3ds points(POINT_ARRAY);
    points.u16(uint16_t(kLocalPoints.size()));
    for (const SbVec3f& p : placed(frame)) points.floats({p[0], p[1], p[2]});
    std::vector<Face> faces = kBoxFaces;
    if (frame.det3() < 0)
        for (Face& face : faces) std::swap(face[1], face[2]);
    Chunk3ds matrix(MESH_MATRIX);
    for (int row = 0; row < 4; ++row) matrix.floats({frame[row][0], frame[row][1], frame[row][2]});
    Chunk3ds object(NAMED_OBJECT);
    object.name(mesh.name).add(Chunk3ds(N_TRI_OBJECT).add(points).add(faceArray(faces)).add(matrix));
    return object;
}

Chunk3ds nodeChunk(const std::vector<SceneNode>& nodes, int i) {
    const SceneNode& node = nodes[i];
    Chunk3ds tag(OBJECT_NODE_TAG);
    tag.add(Chunk3ds(NODE_ID).u16(uint16_t(i)));
    tag.add(Chunk3ds(NODE_HDR).name(node.name).u16(0).u16(0).u16(node.parent < 0 ? 0xFFFF : uint16_t(node.parent)));
    if (!node.instance.empty()) tag.add(Chunk3ds(INSTANCE_NAME).name(node.instance));
    tag.add(Chunk3ds(PIVOT).floats({node.pivot[0], node.pivot[1], node.pivot[2]}));
    if (!node.tracks.empty()) {
        for (const Chunk3ds& chunk : node.tracks) tag.add(chunk);
        return tag;
    }
    tag.add(track(POS_TRACK_TAG, {{node.position[0], node.position[1], node.position[2]}}));
    tag.add(track(ROT_TRACK_TAG, {{node.angle, node.axis[0], node.axis[1], node.axis[2]}}));
    tag.add(track(SCL_TRACK_TAG, {{node.scale[0], node.scale[1], node.scale[2]}}));
    return tag;
}

// The model of these meshes and nodes; timing goes ahead of the nodes in the
// keyframer section.
Bytes sceneFile(const std::vector<SceneNode>& nodes, const std::vector<SceneMesh>& meshes,
                std::initializer_list<Chunk3ds> timing = {}) {
    Chunk3ds mdata(MDATA);
    for (const SceneMesh& mesh : meshes) mdata.add(meshChunk(mesh, nodes));
    Chunk3ds kfdata(KFDATA);
    for (const Chunk3ds& chunk : timing) kfdata.add(chunk);
    for (size_t i = 0; i < nodes.size(); ++i) kfdata.add(nodeChunk(nodes, int(i)));
    Chunk3ds magic(M3DMAGIC);
    magic.add(mdata).add(kfdata);
    return magic.bytes();
}

// Converts the file and checks that each instance of a mesh comes back to its
// own node's placement, within 1e-5 of the scene's size.
void expectInPlace(const std::string& fixture, const Bytes& file, const std::vector<SceneNode>& nodes,
                   const std::vector<SceneMesh>& meshes) {
    std::vector<std::string> labels;
    std::vector<Points> expected;
    for (const SceneMesh& mesh : meshes)
        for (size_t i = 0; i < nodes.size(); ++i)
            if (nodes[i].name == mesh.name) {
                labels.push_back(mesh.name + (nodes[i].instance.empty() ? "" : "." + nodes[i].instance));
                expected.push_back(placed(meshToWorld(nodes, int(i), mesh.mirrored)));
            }

    ConvertedScene scene = convertBytes(file);
    ASSERT_TRUE(scene.root);
    const std::vector<std::vector<Points>> world = worldCoordinates(scene.root);
    ASSERT_EQ(world.size(), expected.size());
    const float size = diagonal(expected);
    float largest = 0.0f;
    for (size_t i = 0; i < expected.size(); ++i) {
        const float off = deviation(world[i], expected[i]);
        largest = std::max(largest, off);
        EXPECT_LE(off, 1e-5f * size) << fixture << ": " << labels[i];
        std::printf("placement %s: %-10s deviation %.3g (relative %.3g)\n", fixture.c_str(), labels[i].c_str(), off,
                    off / size);
    }
    std::printf("placement %s: largest deviation %.3g of size %.4g (relative %.3g)\n", fixture.c_str(), largest, size,
                largest / size);
}

SbVec3f unit(float x, float y, float z) {
    SbVec3f v(x, y, z);
    v.normalize();
    return v;
}

// The axis and angle that SceneNode holds for a turn given as a matrix.
void setTurn(SceneNode& node, const SbMatrix& turn) {
    SbRotation(turn).getValue(node.axis, node.angle);
    node.angle = -node.angle;
}

TEST(Placement, WrittenScenesWithTurnedScaledMirroredAndParentedObjects) {
    std::vector<SceneNode> nodes(15);
    nodes[0] = {"Turned", "", -1, {0.5f, 0.25f, -1}, {5, -3, 2}, unit(1, 2, 3), 0.7f, {1, 1, 1}};
    nodes[1] = {"Scaled", "", -1, {1, 0, 0}, {-4, 1, 0}, {0, 0, 1}, 1.1f, {2, 0.5f, 3}};
    nodes[2] = {"Mirror", "", -1, {0, 0.5f, 0}, {0, 0, 7}, {0, 1, 0}, 0.4f, {1.5f, 1.5f, 1.5f}};
    nodes[3] = {"Parent", "", -1, {0, 0, 0}, {10, 0, 0}, {0, 0, 1}, 0.9f, {2, 2, 2}};
    nodes[4] = {"Child", "", 3, {0.2f, 0.3f, 0.4f}, {1, 2, 3}, {1, 0, 0}, 0.5f, {1, 2, 1}};
    nodes[5] = {"MirrorKid", "", 3, {0, 0, 0}, {-2, 1, 0}, unit(0, 1, 1), 2.5f, {1, 1, 1.2f}};
    nodes[6] = {"$$$DUMMY", "Grip", -1, {0, 0, 0}, {0, 5, 0}, {0, 1, 0}, 0.3f, {1.5f, 1.5f, 1.5f}};
    nodes[7] = {"Held", "", 6, {0, 0, 1}, {1, 0, 0}, unit(1, 1, 0), 1.2f, {1, 1, 1}};
    nodes[8] = {"Tip", "", 7, {0.1f, 0, 0}, {0, 2, 0}, {0, 0, 1}, -0.8f, {0.5f, 0.5f, 2}};
    nodes[9] = {"Wide", "", -1, {0, 0, 0}, {0, -6, 0}, {0, 0, 1}, 0.6f, {2, 1, 1}};
    nodes[10] = {"Crossed", "", 9, {0, 0, 0}, {1, 1, 0}, {0, 0, 1}, kPi / 2, {1, 1, 3}};
    nodes[11] = {"Twin", "a", -1, {0, 0, 0}, {-8, 0, 0}, {1, 0, 0}, 0.2f, {1, 1, 1}};
    nodes[12] = {"Twin", "b", 3, {0, 0, 0}, {0, 0, 4}, {0, 1, 0}, -1.0f, {1, 1, 1}};
    nodes[13] = {"Still", "", -1, {0, 0, 0}, {3, 3, 3}, {0, 0, 0}, 0.0f, {1, 1, 1}};
    nodes[14] = {"Spun", "", 9, {0, 1, 0}, {0, 0, 2}, unit(1, 1, 1), 2 * kPi / 3, {1, 1, 1}};
    const std::vector<SceneMesh> meshes = {{"Turned", 0},  {"Scaled", 1}, {"Mirror", 2, true}, {"Parent", 3},
                                           {"Child", 4},   {"MirrorKid", 5, true},             {"Held", 7},
                                           {"Tip", 8},     {"Wide", 9},   {"Crossed", 10},     {"Twin", 11},
                                           {"Still", 13},  {"Spun", 14}};
    expectInPlace("written scene", sceneFile(nodes, meshes), nodes, meshes);
}

TEST(Placement, ChildTurnedUnderUnevenlyScaledParent) {
    // 15 degrees about -x inside (1.3, 1, 1.1): the child's axes are sheared.
    std::vector<SceneNode> nodes(2);
    nodes[0] = {"$$$DUMMY", "Mount", -1, {0, 0, 0}, {1, 2, 3}, {0, 0, 1}, 0.0f, {1.3f, 1, 1.1f}};
    nodes[1] = {"Launcher", "", 0, {0.1f, 0.2f, 0.3f}, {2, 0.5f, -1}, {-1, 0, 0}, 15 * kPi / 180, {1, 1, 1}};
    expectInPlace("sheared child", sceneFile(nodes, {{"Launcher", 1}}), nodes, {{"Launcher", 1}});
}

TEST(Placement, MirroredFramesWhoseKeysReflectAreMirroredOnce) {
    // As 3ds Max writes a mirrored object: the reflection is in the mesh frame
    // and in a scale key, of the object or of its parent.
    std::vector<SceneNode> nodes(3);
    nodes[0] = {"Wing", "", -1, {0.2f, 0, 0}, {3, -1, 2}, unit(0, 1, 1), 0.6f, {-1, 1, 1}};
    nodes[1] = {"Body", "", -1, {0, 0, 0}, {-4, 0, 0}, {0, 0, 1}, 0.0f, {-1, 1, 1}};
    nodes[2] = {"Door", "", 1, {0, 0.1f, 0}, {1, 0, 0.5f}, {0, 1, 0}, 0.3f, {1, 1, 1}};
    const std::vector<SceneMesh> meshes = {{"Wing", 0}, {"Body", 1}, {"Door", 2}};
    expectInPlace("reflecting keys", sceneFile(nodes, meshes), nodes, meshes);
}

TEST(Placement, ModelSavedAtFrameThreeShowsEveryNodeAtThatFrame) {
    // 480 ticks is frame 3. The parent moves evenly from (2, 0, 1) at frame 0
    // to (2, 0, 7) at frame 6: (2, 0, 4) at frame 3.
    std::vector<SceneNode> nodes(2);
    nodes[0] = {"Base", "", -1, {0, 0, 0}, {2, 0, 4}, {0, 1, 0}, 0.3f, {1, 1, 1}};
    nodes[0].tracks = {splineTrack(POS_TRACK_TAG, {{0, {2, 0, 1}}, {6, {2, 0, 7}}}),
                       track(ROT_TRACK_TAG, {{0.3f, 0, 1, 0}})};

    // The child's keys at frames 0, 2 and 6; frame 3 lies a quarter into the
    // second segment, u = 1/4.
    // Position (0, 1, 0), (4, 1, 2), (10, -1, 2); the middle key has tension
    // 0.5, continuity -0.5, bias 0.25 and ease from 0.5, the last tension 0.2
    // and ease to 0.25. With g1 = (4, 0, 2) and g2 = (6, -2, 0):
    //   leaving the middle (0.15625 g1 + 0.28125 g2) x 2 x 4 / 6 = (3.08333, -0.75, 0.41667)
    //   arriving at the last 0.8 (1.5 g2 - 0.5 (3.08333, -0.75, 0.41667)) = (5.96667, -2.1, -0.16667)
    //   eased time: k = 1 / (2 - 0.75) = 0.8, s = k u^2 / 0.5 = 0.1
    //   h00 0.972, h10 0.081, h01 0.028, h11 -0.009: (4.36405, 0.90215, 2.03525)
    // Rotation about (0, 0.6, 0.8) by 0.2, then 0.5 and 0.9 more: the totals
    // 0.2, 0.7, 1.6 turn about one axis, so squad is the Hermite curve of half
    // the angle. The middle key has tension -0.3, continuity 0.2, bias -0.4
    // and ease from 0.3, the last ease to 0.6; g1 = 0.25, g2 = 0.45:
    //   leaving the middle (0.468 g1 + 0.728 g2) x 4 / 3 = 0.5928
    //   arriving at the last 1.5 g2 - 0.5 x 0.5928 = 0.3786
    //   eased time: k = 1 / 1.1, s = k u^2 / 0.3 = 0.18939394
    //   half angle 0.35 h00 + 0.5928 h10 + 0.8 h01 + 0.3786 h11 = 0.45507445
    const SbVec3f axis(0, 0.6f, 0.8f);
    nodes[1] = {"Arm", "", 0, {0.3f, 0, 0.1f}, {4.36405f, 0.90215f, 2.03525f}, axis, 0.9101489f, {1, 1, 1}};
    // Flags: 0x01 tension, 0x02 continuity, 0x04 bias, 0x08 ease to, 0x10 ease from.
    const SplineKey p1{2, {4, 1, 2}, 0x17, {0.5f, -0.5f, 0.25f, 0.5f}}, p2{6, {10, -1, 2}, 0x09, {0.2f, 0.25f}};
    const SplineKey r1{2, {0.5f, 0, 0.6f, 0.8f}, 0x17, {-0.3f, 0.2f, -0.4f, 0.3f}};
    const SplineKey r2{6, {0.9f, 0, 0.6f, 0.8f}, 0x08, {0.6f}};
    nodes[1].tracks = {splineTrack(POS_TRACK_TAG, {{0, {0, 1, 0}}, p1, p2}),
                       splineTrack(ROT_TRACK_TAG, {{0, {0.2f, 0, 0.6f, 0.8f}}, r1, r2})};

    const std::vector<SceneMesh> meshes = {{"Base", 0}, {"Arm", 1}};
    expectInPlace("saved at frame 3",
                  sceneFile(nodes, meshes, {Chunk3ds(KFSEG).u32(0).u32(10), Chunk3ds(KFCURTIME).u32(480)}), nodes,
                  meshes);
}

TEST(Placement, KeyOfMoreThanHalfATurnTurnsAboutItsOwnAxis) {
    // Saved at frame 4 of 0 to 20, as a file that counts in frames: 0.3 about x,
    // then 4 (more than pi) about z by frame 10, so 1.6 of it at frame 4.
    SbMatrix first, second;
    first.setRotate(SbRotation(SbVec3f(1, 0, 0), -0.3f));
    second.setRotate(SbRotation(SbVec3f(0, 0, 1), -1.6f));
    first.multRight(second);
    std::vector<SceneNode> nodes(1);
    nodes[0] = {"Rotor", "", -1, {0, 0, 0.5f}, {1, 1, 1}, {0, 0, 1}, 0.0f, {1, 1, 1}};
    setTurn(nodes[0], first);
    nodes[0].tracks = {track(POS_TRACK_TAG, {{1, 1, 1}}),
                       splineTrack(ROT_TRACK_TAG, {{0, {0.3f, 1, 0, 0}}, {10, {4, 0, 0, 1}}})};
    const Bytes file = sceneFile(nodes, {{"Rotor", 0}}, {Chunk3ds(KFSEG).u32(0).u32(20), Chunk3ds(KFCURTIME).u32(4)});
    expectInPlace("long turn", file, nodes, {{"Rotor", 0}});
}

// ---- Winding -------------------------------------------------------------------

// The signed volume of an instance's triangles in world space, positive when
// they face outward counterclockwise, and the vertex ordering they are drawn with.
struct Facing {
    std::string object;
    double volume = 0;
    int clockwise = 0;
    int counterclockwise = 0;
};

void addTriangle(void* data, SoCallbackAction* action, const SoPrimitiveVertex* a, const SoPrimitiveVertex* b,
                 const SoPrimitiveVertex* c) {
    auto& facings = *static_cast<std::vector<std::pair<SoNode*, Facing>>*>(data);
    SoNode* object = action->getCurPath()->getNode(1);
    if (facings.empty() || facings.back().first != object) facings.push_back({object, Facing()});
    Facing& facing = facings.back().second;
    SbVec3d p[3];
    const SoPrimitiveVertex* corners[3] = {a, b, c};
    for (int k = 0; k < 3; ++k) {
        SbVec3f world;
        action->getModelMatrix().multVecMatrix(corners[k]->getPoint(), world);
        p[k].setValue(world[0], world[1], world[2]);
    }
    facing.volume += p[0].dot(p[1].cross(p[2])) / 6.0;
    if (action->getVertexOrdering() == SoShapeHints::CLOCKWISE) ++facing.clockwise;
    if (action->getVertexOrdering() == SoShapeHints::COUNTERCLOCKWISE) ++facing.counterclockwise;
}

// One per object separator, in scene order.
std::vector<Facing> facings(SoSeparator* root) {
    std::vector<std::pair<SoNode*, Facing>> found;
    SoCallbackAction action;
    action.addTriangleCallback(SoShape::getClassTypeId(), addTriangle, &found);
    action.apply(root);
    std::vector<Facing> out;
    for (auto& entry : found) out.push_back(entry.second);
    return out;
}

// Every triangle of the instance drawn with one ordering, and the side its
// volume says faces outward drawn as the front.
void expectFacesOutward(const Facing& facing, const std::string& label, double leastVolume) {
    EXPECT_GT(std::fabs(facing.volume), leastVolume) << label;
    EXPECT_TRUE(facing.clockwise == 0 || facing.counterclockwise == 0) << label;
    EXPECT_EQ(facing.volume > 0, facing.counterclockwise > 0) << label << ": volume " << facing.volume << ", "
                                                              << facing.clockwise << " triangles clockwise";
}

TEST(Winding, MirroredCopiesAndMirroredFramesFaceOutward) {
    std::vector<SceneNode> nodes(4);
    // A copy made by a second node of the same mesh that reflects it.
    nodes[0] = {"Box", "a", -1, {0, 0, 0}, {-3, 0, 0}, {0, 1, 0}, 0.2f, {1, 1, 1}};
    nodes[1] = {"Box", "b", -1, {0, 0, 0}, {3, 0, 0}, {0, 1, 0}, -0.2f, {-1, 1, 1}};
    // A mirrored frame whose keys carry no reflection.
    nodes[2] = {"Plate", "", -1, {0.1f, 0, 0}, {0, 5, 0}, unit(1, 0, 1), 0.5f, {1, 2, 1}};
    // A mirrored frame whose scale key carries the reflection too.
    nodes[3] = {"Flap", "", -1, {0, 0.2f, 0}, {0, -5, 0}, {0, 0, 1}, 0.8f, {-1, 1, 1.5f}};
    const std::vector<SceneMesh> meshes = {{"Box", 0}, {"Plate", 2, true}, {"Flap", 3}};
    const Bytes file = sceneFile(nodes, meshes);
    expectInPlace("winding", file, nodes, meshes);

    ConvertedScene scene = convertBytes(file);
    ASSERT_TRUE(scene.root);
    const std::vector<Facing> found = facings(scene.root);
    ASSERT_EQ(found.size(), 4u);
    const char* labels[] = {"original", "mirrored copy", "mirrored frame", "mirrored frame and key"};
    for (int i = 0; i < 4; ++i) {
        expectFacesOutward(found[i], labels[i], 1.0);
        std::printf("winding %-24s volume %8.3f, %2d triangles clockwise, %2d counterclockwise\n", labels[i],
                    found[i].volume, found[i].clockwise, found[i].counterclockwise);
    }
    // Only the copy reflects the stored triangles.
    EXPECT_GT(found[1].clockwise, 0);
    for (int i : {0, 2, 3}) EXPECT_GT(found[i].counterclockwise, 0) << labels[i];
}

TEST(Winding, EveryCorpusInstanceFacesOutward) {
    // Every mesh of the corpus is closed, so its volume tells its outside.
    const std::vector<std::filesystem::path> models = corpusModels();
    if (models.empty()) GTEST_SKIP() << "KESTRAV_CORPUS names no folder with 3DS models";
    for (const std::filesystem::path& model : models) {
        const std::string fileName = model.filename().string();
        const std::string copy = writeScratchFile(fileName, [&] {
            const std::string text = readTextFile(model.string());
            return Bytes(text.begin(), text.end());
        }());
        ConvertedScene scene = convertFile(copy);
        ASSERT_TRUE(scene.root) << fileName;
        const std::vector<Facing> found = facings(scene.root);
        const std::vector<std::vector<Points>> world = worldCoordinates(scene.root);
        ASSERT_EQ(found.size(), world.size()) << fileName;
        for (size_t i = 0; i < found.size(); ++i) {
            const double size = diagonal(world[i]);
            expectFacesOutward(found[i], fileName + " instance " + std::to_string(i), 1e-3 * size * size * size);
        }
    }
}

TEST(Placement, CyclicParentsAndMissingFramesConvertAsDecided) {
    auto stored = [](const std::string& name, bool withFrame) {
        Chunk3ds points(POINT_ARRAY);
        points.u16(uint16_t(kLocalPoints.size()));
        for (const SbVec3f& q : kLocalPoints) points.floats({q[0], q[1], q[2]});
        Chunk3ds mesh(N_TRI_OBJECT);
        mesh.add(points);
        if (withFrame) mesh.add(Chunk3ds(MESH_MATRIX).floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
        return Chunk3ds(NAMED_OBJECT).name(name).add(mesh);
    };
    auto node = [](uint16_t id, const std::string& name, uint16_t parent, float x, float scale) {
        auto track = [](uint16_t chunkId, float a, float b, float c) {
            return Chunk3ds(chunkId).u16(0).u32(0).u32(0).u32(1).u32(0).u16(0).floats({a, b, c});
        };
        Chunk3ds tag(OBJECT_NODE_TAG);
        tag.add(Chunk3ds(NODE_ID).u16(id)).add(Chunk3ds(NODE_HDR).name(name).u16(0).u16(0).u16(parent));
        tag.add(track(POS_TRACK_TAG, x, 0, 0)).add(track(SCL_TRACK_TAG, scale, scale, scale));
        return tag;
    };
    // The first node names itself as parent while it is still plain "A"; its
    // instance name then makes it "A.i", the parent of the second node, which
    // plain "A" finds: a cycle in the file. Each instance cuts it where it
    // would close, so the other node becomes its root.
    Chunk3ds first = node(0, "A", 0, 1, 1);
    first.add(Chunk3ds(INSTANCE_NAME).name("i"));
    const Bytes file = model3ds({stored("A", true), stored("NoFrame", false)},
                                {first, node(1, "A", 0, 10, 2), node(2, "NoFrame", 0xFFFF, 5, 1)});

    ConvertedScene scene = convertBytes(file);
    ASSERT_TRUE(scene.root);
    const std::vector<std::vector<Points>> world = worldCoordinates(scene.root);
    ASSERT_EQ(world.size(), 3u);
    auto scaledAndMoved = [](float scale, float x) {
        Points out;
        for (const SbVec3f& q : kLocalPoints) out.push_back(q * scale + SbVec3f(x, 0, 0));
        return out;
    };
    EXPECT_LE(deviation(world[0], scaledAndMoved(2, 12)), 1e-5f);
    EXPECT_LE(deviation(world[1], scaledAndMoved(2, 11)), 1e-5f);
    // Without a frame the stored vertices are taken as they are, then placed.
    EXPECT_LE(deviation(world[2], scaledAndMoved(1, 5)), 1e-5f);
}

}  // namespace
