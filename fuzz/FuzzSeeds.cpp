// Writes small 3DS files made with the project's 3DS writer into the folder
// named on the command line, as seeds for the fuzz targets: between them they
// reach every chunk the reader handles.

#include <cstdio>
#include <string>

#include "tests/support/DamagedModels.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

// Keys with every mix of spline values.
Chunk3ds mixedTrack(uint16_t id, int keys, int values) {
    std::vector<SplineKey> written;
    for (int k = 0; k < keys; ++k) {
        SplineKey key{uint32_t(k * 10), {}, uint16_t(k * 7 & 0x1F), {}};
        for (int bit = 0; bit < 5; ++bit)
            if (key.splineFlags & 1 << bit) key.spline.push_back(0.5f);
        for (int v = 0; v < values; ++v) key.value.push_back(float(v + k));
        written.push_back(key);
    }
    return splineTrack(id, written);
}

Chunk3ds node(uint16_t id, const char* name, uint16_t parent, const char* instance) {
    Chunk3ds tag = objectNode(id, name, parent);
    if (instance[0]) tag.add(Chunk3ds(INSTANCE_NAME).name(instance));
    tag.add(Chunk3ds(PIVOT).floats({0, 0, 0})).add(Chunk3ds(BOUNDBOX).floats({-1, -1, -1, 1, 1, 1}));
    tag.add({mixedTrack(POS_TRACK_TAG, 2, 3), mixedTrack(ROT_TRACK_TAG, 3, 4), mixedTrack(SCL_TRACK_TAG, 1, 3)});
    return tag;
}

Chunk3ds everyChunkMaterial(const char* name, const char* map) {
    Chunk3ds chunk = material(name, -1,
                              {colour(MAT_AMBIENT, 10, 20, 30),
                               Chunk3ds(MAT_DIFFUSE).add({Chunk3ds(COLOR_F).floats({0.5f, 0.25f, 1}),
                                                          Chunk3ds(LIN_COLOR_24).u8(1).u8(2).u8(3)}),
                               Chunk3ds(MAT_SPECULAR).add(Chunk3ds(LIN_COLOR_F).floats({1, 1, 1}))});
    const uint16_t percentages[] = {MAT_SHININESS, MAT_SHIN2PCT, MAT_TRANSPARENCY,
                                    MAT_XPFALL,    MAT_REFBLUR,  MAT_SELF_ILPCT};
    for (uint16_t id : percentages) chunk.add(percentage(id, 50));
    const uint16_t flags[] = {MAT_SELF_ILLUM, MAT_TWO_SIDE,  MAT_DECAL,      MAT_ADDITIVE,   MAT_WIRE,
                              MAT_FACEMAP,    MAT_PHONGSOFT, MAT_WIREABS, MAT_USE_XPFALL, MAT_USE_REFBLUR};
    for (uint16_t id : flags) chunk.add(Chunk3ds(id));
    chunk.add(Chunk3ds(MAT_WIRESIZE).f32(2)).add(Chunk3ds(MAT_SHADING).u16(3));
    for (uint16_t id : {uint16_t(MAT_TEXMAP), uint16_t(MAT_BUMPMAP)}) {
        Chunk3ds mapEntry = mapChunk(id, map);
        mapEntry.add(Chunk3ds(MAT_MAP_TILING).u16(0x11));
        const uint16_t parameters[] = {MAT_MAP_TEXBLUR, MAT_MAP_USCALE,  MAT_MAP_VSCALE,
                                       MAT_MAP_UOFFSET, MAT_MAP_VOFFSET, MAT_MAP_ANG};
        for (uint16_t p : parameters) mapEntry.add(Chunk3ds(p).f32(1.5f));
        chunk.add(mapEntry);
    }
    return chunk;
}

Chunk3ds mesh(const char* name, const char* materialName) {
    Chunk3ds faces(FACE_ARRAY);
    faces.u16(2).u16(0).u16(1).u16(2).u16(7).u16(0).u16(2).u16(3).u16(7);
    faces.add(Chunk3ds(MSH_MAT_GROUP).name(materialName).u16(2).u16(0).u16(1));
    faces.add(Chunk3ds(SMOOTH_GROUP).u32(1).u32(3));
    Chunk3ds tri(N_TRI_OBJECT);
    tri.add(Chunk3ds(POINT_ARRAY).u16(4).floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0}));
    tri.add(Chunk3ds(POINT_FLAG_ARRAY).u16(4).u16(0).u16(0).u16(0).u16(0));
    tri.add(Chunk3ds(TEX_VERTS).u16(4).floats({0, 0, 1, 0, 1, 1, 0, 1}));
    tri.add(Chunk3ds(MESH_MATRIX).floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
    tri.add(faces);
    return namedObject(name, {tri});
}

// A node whose frame cannot be inverted: every scale key is zero.
Chunk3ds flatNode(uint16_t id, const char* name, uint16_t parent) {
    return objectNode(id, name, parent, {track(SCL_TRACK_TAG, {{0, 0, 0}})});
}

// A mesh whose own matrix is all zeros.
Chunk3ds flatMesh(const char* name) {
    Chunk3ds tri(N_TRI_OBJECT);
    tri.add(Chunk3ds(POINT_ARRAY).u16(3).floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    tri.add(Chunk3ds(MESH_MATRIX).floats({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    tri.add(Chunk3ds(FACE_ARRAY).u16(1).u16(0).u16(1).u16(2).u16(0));
    return namedObject(name, {tri});
}

bool write(const std::string& path, const Bytes& bytes) {
    FILE* out = std::fopen(path.c_str(), "wb");
    if (!out) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    const Chunk3ds light = namedObject("Lamp", {Chunk3ds(0x4600).add(Chunk3ds(COLOR_F).floats({1, 1, 1}))});
    const Bytes seeds[] = {
        model3ds({everyChunkMaterial("Red", "RED.PNG"), mesh("Box", "Red")}, {node(0, "Box", 0xFFFF, "")}),
        model3ds({everyChunkMaterial("Red", "RED.PNG"), everyChunkMaterial("Blue", "BLUE.JPG"), mesh("Box", "Red"),
                  light, mesh("Ball", "Blue")},
                 {node(0, "$$$DUMMY", 0xFFFF, "D1"), node(1, "Box", 0, "A"), node(2, "Box", 0, "B"),
                  node(3, "Ball", 1, "")}),
        model3ds({mesh("Plain", "Missing")}, {}),
        // Parents in a ring of two, and a node that is its own parent.
        model3ds({mesh("Box", "Red"), mesh("Ball", "Red")},
                 {node(0, "Box", 1, "A"), node(1, "Ball", 0, ""), node(2, "Box", 2, "B")}),
        // Parent ids that no node has.
        model3ds({mesh("Box", "Red"), mesh("Ball", "Red")}, {node(0, "Box", 77, ""), node(1, "Ball", 0xFFFE, "")}),
        // Frames that cannot be inverted, alone and as a parent.
        model3ds({flatMesh("Flat"), mesh("Box", "Red")}, {flatNode(0, "Flat", 0xFFFF), node(1, "Box", 0, "")}),
        // Saved between keys, in ticks, so every track is evaluated between its keys.
        model3ds({everyChunkMaterial("Red", "RED.PNG"), mesh("Box", "Red"), mesh("Ball", "Red")},
                 {Chunk3ds(KFSEG).u32(0).u32(30), Chunk3ds(KFCURTIME).u32(15 * 160), node(0, "Box", 0xFFFF, ""),
                  node(1, "Ball", 0, "")}),
    };
    int index = 0;
    bool written = true;
    for (const Bytes& seed : seeds)
        written = written && write(folder + "/writer-" + std::to_string(++index) + ".3ds", seed);
    // Damage inside chunks, which the walk skips and goes on from.
    for (const DamagedModel& model : locallyDamagedModels())
        written = written && write(folder + "/damaged-" + model.name, model.write(true));
    if (!written) {
        std::fprintf(stderr, "cannot write into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
