#include "tests/support/DamagedModels.h"

#include <limits>

namespace kestrav {

namespace {

// A unit square at x, in two faces, with texture coordinates.
std::vector<float> square(float x) { return {x, 0, 0, x + 1, 0, 0, x + 1, 1, 0, x, 1, 0}; }
const std::vector<Face> kSquareFaces = {{0, 1, 2}, {0, 2, 3}};
const std::vector<float> kSquareUv = {0, 0, 1, 0, 1, 1, 0, 1};

Chunk3ds identityFrame(float x) { return meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, x, 0, 0}); }

Chunk3ds squareFaces(const std::string& materialName) {
    return faceArray(kSquareFaces, {materialGroup(materialName, {0, 1}), smoothGroup({1, 1})});
}

Chunk3ds quad(const std::string& name, float x, const std::string& materialName) {
    return meshObject(name, {pointArray(square(x)), texVerts(kSquareUv), identityFrame(x), squareFaces(materialName)});
}

Chunk3ds red() { return material("Red", 3, {colour(MAT_DIFFUSE, 200, 0, 0)}); }
Chunk3ds blue() { return material("Blue", 3, {colour(MAT_DIFFUSE, 0, 0, 200)}); }

// The chunks of a mesh, with the damaged one only when asked for.
Chunk3ds triMesh(std::initializer_list<Chunk3ds> before, const Chunk3ds& damage, bool damaged,
                 std::initializer_list<Chunk3ds> after) {
    Chunk3ds tri(N_TRI_OBJECT);
    tri.add(before);
    if (damaged) tri.add(damage);
    return tri.add(after);
}

}  // namespace

Bytes sevenPointFlagsModel(bool damaged) {
    Chunk3ds data(MDATA);
    data.add(material("Paint", 3, {colour(MAT_DIFFUSE, 40, 120, 200)}));
    Chunk3ds keyframer(KFDATA);
    for (int i = 0; i < 8; ++i) {
        const std::string name = "Part" + std::to_string(i + 1);
        Chunk3ds flags(POINT_FLAG_ARRAY);
        flags.u16(7).u16(0).u16(0).u16(0).u16(0);
        const float x = float(2 * i);
        data.add(namedObject(name, {triMesh({pointArray(square(x))}, flags, damaged,
                                            {texVerts(kSquareUv), identityFrame(x), squareFaces("Paint")})}));
        keyframer.add(objectNode(uint16_t(i), name, kNoParent));
    }
    return Chunk3ds(M3DMAGIC).add(data).add(keyframer).bytes();
}

Bytes emptyPointFlagsModel(bool damaged) {
    const std::vector<float> rock = {0, 0, 0, 2, 0, 0, 1, 2, 0, 1, 1, 2};
    const std::vector<Face> faces = {{0, 1, 2}, {0, 1, 3}, {1, 2, 3}, {2, 0, 3}};
    return model3ds({red(),
                     namedObject("Rock", {triMesh({pointArray(rock)}, Chunk3ds(POINT_FLAG_ARRAY), damaged,
                                                  {identityFrame(0),
                                                   faceArray(faces, {materialGroup("Red", {0, 1, 2, 3}),
                                                                     smoothGroup({1, 1, 1, 1})})})}),
                     quad("Pebble", 4, "Red")});
}

Bytes pointCountPastChunkModel(bool damaged) {
    Chunk3ds points(POINT_ARRAY);
    points.u16(6);
    for (float v : square(0)) points.f32(v);
    return model3ds({red(), namedObject("Short", {triMesh({}, points, damaged, {identityFrame(0), squareFaces("Red")})}),
                     quad("Whole", 2, "Red")});
}

Bytes materialGroupCountPastChunkModel(bool damaged) {
    Chunk3ds faces = faceArray(kSquareFaces, {materialGroup("Red", {0})});
    if (damaged) faces.add(Chunk3ds(MSH_MAT_GROUP).name("Blue").u16(9).u16(1));
    faces.add(smoothGroup({1, 1}));
    return model3ds({red(), blue(),
                     meshObject("Split", {pointArray(square(0)), texVerts(kSquareUv), identityFrame(0), faces}),
                     quad("Whole", 2, "Red")});
}

Bytes facesPastChunkModel(bool damaged) {
    // Its count cannot fit even with the sub-chunks' bytes counted.
    Chunk3ds faces(FACE_ARRAY);
    faces.u16(256);
    for (const Face& f : kSquareFaces) faces.u16(f[2]).u16(f[1]).u16(f[0]).u16(0);
    faces.add({materialGroup("Blue", {0, 1}), smoothGroup({2, 2})});
    return model3ds({red(), blue(),
                     namedObject("Broken", {triMesh({pointArray(square(0)), identityFrame(0), squareFaces("Red")}, faces,
                                                    damaged, {texVerts(kSquareUv)})}),
                     quad("Whole", 2, "Red")});
}

Bytes rotationSplinesPastChunkModel(bool damaged) {
    // Every spline flag says a float follows; none does.
    Chunk3ds rotation = trackHeader(ROT_TRACK_TAG, 1);
    rotation.u32(0).u16(0x1F).floats({1.0f, 0, 0, 1});
    Chunk3ds box = objectNode(0, "Box", kNoParent, {track(POS_TRACK_TAG, {{1, 2, 3}})});
    if (damaged) box.add(rotation);
    box.add(track(SCL_TRACK_TAG, {{2, 2, 2}}));
    return model3ds({red(), quad("Box", 0, "Red"), quad("Next", 2, "Red")},
                    {box, objectNode(1, "Next", kNoParent, {track(POS_TRACK_TAG, {{0, 5, 0}})})});
}

Bytes nonFiniteModel(bool damaged) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    // Sound, the fifth vertex is the origin and the faces that used it name a
    // sixth the mesh does not have.
    const std::vector<float> spiky = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, damaged ? nan : 0.0f, damaged ? 0.5f : 0.0f,
                                      damaged ? 1.0f : 0.0f};
    const uint16_t apex = damaged ? 4 : 5;
    Chunk3ds faces = faceArray({{0, 1, 2}, {0, 2, 3}, {0, 1, apex}, {1, 2, apex}},
                               {materialGroup("Red", {0, 1, 2, 3}), smoothGroup({1, 1, 1, 1})});
    Chunk3ds spikyNode = objectNode(0, "Spiky", kNoParent);
    if (damaged) spikyNode.add(Chunk3ds(PIVOT).floats({nan, 0, 0}));
    return model3ds({red(), namedObject("Spiky", {triMesh({pointArray(spiky)},
                                                          meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, inf, 0, 0}), damaged,
                                                          {faces})}),
                     quad("Plain", 2, "Red")},
                    {spikyNode, objectNode(1, "Plain", kNoParent)});
}

std::vector<DamagedModel> locallyDamagedModels() {
    return {{"point-flags-say-seven-hold-four.3ds", sevenPointFlagsModel},
            {"point-flags-empty.3ds", emptyPointFlagsModel},
            {"point-count-past-chunk-end.3ds", pointCountPastChunkModel},
            {"material-group-count-past-chunk-end.3ds", materialGroupCountPastChunkModel},
            {"faces-past-chunk-end.3ds", facesPastChunkModel},
            {"rotation-splines-past-chunk-end.3ds", rotationSplinesPastChunkModel},
            {"non-finite-vertex-frame-and-pivot.3ds", nonFiniteModel}};
}

}  // namespace kestrav
