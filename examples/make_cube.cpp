// Writes the bundled example model: a cube with two materials, one smoothing
// group per side so its edges stay sharp, and a keyframer node that turns it.
//   make_cube <output.3ds>

#include <cstdio>

#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

// Chunks the reader skips, written so the file looks like one from a modeller.
const uint16_t M3D_VERSION = 0x0002;
const uint16_t MESH_VERSION = 0x3D3E;
const uint16_t MASTER_SCALE = 0x0100;

const float kCorners[8][3] = {
    {-1, -1, -1}, {1, -1, -1}, {1, 1, -1}, {-1, 1, -1}, {-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1},
};

// Two triangles per side, counter-clockwise seen from outside.
const uint16_t kFaces[12][3] = {
    {0, 2, 1}, {0, 3, 2},  // bottom
    {4, 5, 6}, {4, 6, 7},  // top
    {0, 1, 5}, {0, 5, 4},  // front
    {3, 7, 6}, {3, 6, 2},  // back
    {1, 2, 6}, {1, 6, 5},  // right
    {0, 4, 7}, {0, 7, 3},  // left
};

// A colour as both a 24-bit and a gamma-corrected 24-bit chunk, as modellers write it.
Chunk3ds colourPair(uint16_t id, uint8_t r, uint8_t g, uint8_t b) {
    return colour(id, r, g, b).add(Chunk3ds(LIN_COLOR_24).u8(r).u8(g).u8(b));
}

Chunk3ds cubeMaterial(const char* name, uint8_t r, uint8_t g, uint8_t b, int16_t shininess) {
    return material(name, -1,
                    {colourPair(MAT_AMBIENT, r / 4, g / 4, b / 4), colourPair(MAT_DIFFUSE, r, g, b),
                     colourPair(MAT_SPECULAR, 40, 40, 40), percentage(MAT_SHININESS, shininess),
                     percentage(MAT_SHIN2PCT, 60), percentage(MAT_TRANSPARENCY, 0), Chunk3ds(MAT_SHADING).u16(3)});
}

Chunk3ds cubeMesh() {
    Chunk3ds points(POINT_ARRAY);
    points.u16(8);
    for (const auto& corner : kCorners) points.floats({corner[0], corner[1], corner[2]});

    Chunk3ds faces(FACE_ARRAY);
    faces.u16(12);
    for (const auto& face : kFaces) faces.u16(face[0]).u16(face[1]).u16(face[2]).u16(7);
    Chunk3ds caps(MSH_MAT_GROUP);
    caps.name("Slate").u16(4);
    for (uint16_t f = 0; f < 4; ++f) caps.u16(f);
    Chunk3ds sides(MSH_MAT_GROUP);
    sides.name("Copper").u16(8);
    for (uint16_t f = 4; f < 12; ++f) sides.u16(f);
    Chunk3ds smoothing(SMOOTH_GROUP);
    for (int f = 0; f < 12; ++f) smoothing.u32(1u << (f / 2));
    faces.add(caps).add(sides).add(smoothing);

    Chunk3ds matrix(MESH_MATRIX);
    matrix.floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});

    return Chunk3ds(NAMED_OBJECT).name("Cube").add(Chunk3ds(N_TRI_OBJECT).add(points).add(matrix).add(faces));
}

Chunk3ds cubeNode() {
    return Chunk3ds(OBJECT_NODE_TAG)
        .add(Chunk3ds(NODE_ID).u16(0))
        .add(Chunk3ds(NODE_HDR).name("Cube").u16(0x4000).u16(0).u16(0xFFFF))
        .add(Chunk3ds(PIVOT).floats({0, 0, 0}))
        .add(Chunk3ds(BOUNDBOX).floats({-1, -1, -1, 1, 1, 1}))
        .add(track(POS_TRACK_TAG, {{0, 0, 0.5f}}))
        .add(track(ROT_TRACK_TAG, {{0.5f, 0, 0, 1}}))
        .add(track(SCL_TRACK_TAG, {{1, 1, 1}}));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cube <output.3ds>\n");
        return 2;
    }
    const Bytes file = Chunk3ds(M3DMAGIC)
                           .add(Chunk3ds(M3D_VERSION).u32(3))
                           .add(Chunk3ds(MDATA)
                                    .add(Chunk3ds(MESH_VERSION).u32(3))
                                    .add(Chunk3ds(MASTER_SCALE).f32(1))
                                    .add(cubeMaterial("Copper", 184, 115, 51, 40))
                                    .add(cubeMaterial("Slate", 90, 100, 112, 10))
                                    .add(cubeMesh()))
                           .add(Chunk3ds(KFDATA).add(cubeNode()))
                           .bytes();
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
