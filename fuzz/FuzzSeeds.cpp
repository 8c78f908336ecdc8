// Writes small 3DS files made with the test writer into the folder named on the
// command line, as seeds for the reader's fuzz target: between them they reach
// every chunk the reader handles.

#include <cstdio>
#include <string>

#include "tests/support/Chunk3ds.h"

namespace {

Chunk3ds with(Chunk3ds chunk, std::initializer_list<Chunk3ds> children) {
    for (const Chunk3ds& child : children) chunk.add(child);
    return chunk;
}

Chunk3ds track(uint16_t id, int keys, int values) {
    Chunk3ds chunk(id);
    chunk.u16(0).u32(0).u32(0).u32(uint32_t(keys));
    for (int k = 0; k < keys; ++k) {
        const uint16_t flags = uint16_t(k * 7 & 0x1F);
        chunk.u32(uint32_t(k * 10)).u16(flags);
        for (int bit = 0; bit < 5; ++bit)
            if (flags & 1 << bit) chunk.f32(0.5f);
        for (int v = 0; v < values; ++v) chunk.f32(float(v + k));
    }
    return chunk;
}

Chunk3ds node(uint16_t id, const char* name, uint16_t parent, const char* instance) {
    Chunk3ds tag(OBJECT_NODE_TAG);
    tag.add(Chunk3ds(NODE_ID).u16(id)).add(Chunk3ds(NODE_HDR).name(name).u16(0x4000).u16(0).u16(parent));
    if (instance[0]) tag.add(Chunk3ds(INSTANCE_NAME).name(instance));
    tag.add(Chunk3ds(PIVOT).floats({0, 0, 0})).add(Chunk3ds(BOUNDBOX).floats({-1, -1, -1, 1, 1, 1}));
    tag.add(track(POS_TRACK_TAG, 2, 3)).add(track(ROT_TRACK_TAG, 3, 4)).add(track(SCL_TRACK_TAG, 1, 3));
    return tag;
}

Chunk3ds material(const char* name, const char* map) {
    Chunk3ds colours[] = {with(Chunk3ds(MAT_AMBIENT), {Chunk3ds(COLOR_24).u8(10).u8(20).u8(30)}),
                          with(Chunk3ds(MAT_DIFFUSE), {Chunk3ds(COLOR_F).floats({0.5f, 0.25f, 1}),
                                                       Chunk3ds(LIN_COLOR_24).u8(1).u8(2).u8(3)}),
                          with(Chunk3ds(MAT_SPECULAR), {Chunk3ds(LIN_COLOR_F).floats({1, 1, 1})})};
    Chunk3ds chunk(MAT_ENTRY);
    chunk.add(Chunk3ds(MAT_NAME).name(name));
    for (const Chunk3ds& colour : colours) chunk.add(colour);
    const uint16_t percentages[] = {MAT_SHININESS, MAT_SHIN2PCT, MAT_TRANSPARENCY,
                                    MAT_XPFALL,    MAT_REFBLUR,  MAT_SELF_ILPCT};
    for (uint16_t id : percentages) chunk.add(with(Chunk3ds(id), {Chunk3ds(INT_PERCENTAGE).i16(50)}));
    const uint16_t flags[] = {MAT_SELF_ILLUM, MAT_TWO_SIDE,  MAT_DECAL,      MAT_ADDITIVE,   MAT_WIRE,
                              MAT_FACEMAP,    MAT_PHONGSOFT, MAT_WIREABS, MAT_USE_XPFALL, MAT_USE_REFBLUR};
    for (uint16_t id : flags) chunk.add(Chunk3ds(id));
    chunk.add(Chunk3ds(MAT_WIRESIZE).f32(2)).add(Chunk3ds(MAT_SHADING).u16(3));
    for (uint16_t id : {uint16_t(MAT_TEXMAP), uint16_t(MAT_BUMPMAP)}) {
        Chunk3ds mapChunk(id);
        mapChunk.add(Chunk3ds(INT_PERCENTAGE).i16(100)).add(Chunk3ds(MAT_MAPNAME).name(map));
        mapChunk.add(Chunk3ds(MAT_MAP_TILING).u16(0x11));
        const uint16_t parameters[] = {MAT_MAP_TEXBLUR, MAT_MAP_USCALE,  MAT_MAP_VSCALE,
                                       MAT_MAP_UOFFSET, MAT_MAP_VOFFSET, MAT_MAP_ANG};
        for (uint16_t p : parameters) mapChunk.add(Chunk3ds(p).f32(1.5f));
        chunk.add(mapChunk);
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
    return with(Chunk3ds(NAMED_OBJECT).name(name), {tri});
}

// A node whose frame cannot be inverted: every scale key is zero.
Chunk3ds flatNode(uint16_t id, const char* name, uint16_t parent) {
    Chunk3ds tag(OBJECT_NODE_TAG);
    tag.add(Chunk3ds(NODE_ID).u16(id)).add(Chunk3ds(NODE_HDR).name(name).u16(0).u16(0).u16(parent));
    tag.add(Chunk3ds(SCL_TRACK_TAG).u16(0).u32(0).u32(0).u32(1).u32(0).u16(0).floats({0, 0, 0}));
    return tag;
}

// A mesh whose own matrix is all zeros.
Chunk3ds flatMesh(const char* name) {
    Chunk3ds tri(N_TRI_OBJECT);
    tri.add(Chunk3ds(POINT_ARRAY).u16(3).floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));
    tri.add(Chunk3ds(MESH_MATRIX).floats({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    tri.add(Chunk3ds(FACE_ARRAY).u16(1).u16(0).u16(1).u16(2).u16(0));
    return with(Chunk3ds(NAMED_OBJECT).name(name), {tri});
}

Bytes file(std::initializer_list<Chunk3ds> data, std::initializer_list<Chunk3ds> keyframer) {
    Chunk3ds mdata(MDATA);
    for (const Chunk3ds& chunk : data) mdata.add(chunk);
    Chunk3ds kfdata(KFDATA);
    for (const Chunk3ds& chunk : keyframer) kfdata.add(chunk);
    return with(Chunk3ds(M3DMAGIC), {Chunk3ds(0x0002).u32(3), mdata, kfdata}).bytes();
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
    Chunk3ds light(NAMED_OBJECT);
    light.name("Lamp").add(with(Chunk3ds(0x4600), {Chunk3ds(COLOR_F).floats({1, 1, 1})}));
    const Bytes seeds[] = {
        file({material("Red", "RED.PNG"), mesh("Box", "Red")}, {node(0, "Box", 0xFFFF, "")}),
        file({material("Red", "RED.PNG"), material("Blue", "BLUE.JPG"), mesh("Box", "Red"), light,
              mesh("Ball", "Blue")},
             {node(0, "$$$DUMMY", 0xFFFF, "D1"), node(1, "Box", 0, "A"), node(2, "Box", 0, "B"),
              node(3, "Ball", 1, "")}),
        file({mesh("Plain", "Missing")}, {}),
        // Parents in a ring of two, and a node that is its own parent.
        file({mesh("Box", "Red"), mesh("Ball", "Red")},
             {node(0, "Box", 1, "A"), node(1, "Ball", 0, ""), node(2, "Box", 2, "B")}),
        // Parent ids that no node has.
        file({mesh("Box", "Red"), mesh("Ball", "Red")}, {node(0, "Box", 77, ""), node(1, "Ball", 0xFFFE, "")}),
        // Frames that cannot be inverted, alone and as a parent.
        file({flatMesh("Flat"), mesh("Box", "Red")}, {flatNode(0, "Flat", 0xFFFF), node(1, "Box", 0, "")}),
    };
    int index = 0;
    for (const Bytes& seed : seeds) {
        if (!write(folder + "/writer-" + std::to_string(++index) + ".3ds", seed)) {
            std::fprintf(stderr, "cannot write into %s\n", folder.c_str());
            return 1;
        }
    }
    return 0;
}
