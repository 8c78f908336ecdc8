#include "tools/writer/ModelChunks.h"

namespace kestrav {

Chunk3ds pointArray(const std::vector<float>& xyz) {
    Chunk3ds chunk(POINT_ARRAY);
    chunk.u16(uint16_t(xyz.size() / 3));
    for (float v : xyz) chunk.f32(v);
    return chunk;
}

Chunk3ds texVerts(const std::vector<float>& uv) {
    Chunk3ds chunk(TEX_VERTS);
    chunk.u16(uint16_t(uv.size() / 2));
    for (float v : uv) chunk.f32(v);
    return chunk;
}

Chunk3ds faceArray(const std::vector<Face>& faces, std::initializer_list<Chunk3ds> subChunks, uint16_t faceFlags) {
    Chunk3ds chunk(FACE_ARRAY);
    chunk.u16(uint16_t(faces.size()));
    for (const Face& f : faces) chunk.u16(f[0]).u16(f[1]).u16(f[2]).u16(faceFlags);
    return chunk.add(subChunks);
}

Chunk3ds smoothGroup(const std::vector<uint32_t>& masks) {
    Chunk3ds chunk(SMOOTH_GROUP);
    for (uint32_t m : masks) chunk.u32(m);
    return chunk;
}

Chunk3ds materialGroup(const std::string& material, const std::vector<uint16_t>& faces) {
    Chunk3ds chunk(MSH_MAT_GROUP);
    chunk.name(material).u16(uint16_t(faces.size()));
    for (uint16_t f : faces) chunk.u16(f);
    return chunk;
}

std::vector<uint16_t> faceRange(uint32_t first, uint32_t end) {
    std::vector<uint16_t> faces;
    for (uint32_t f = first; f < end; ++f) faces.push_back(uint16_t(f));
    return faces;
}

Chunk3ds meshMatrix(std::initializer_list<float> frame) { return Chunk3ds(MESH_MATRIX).floats(frame); }

Chunk3ds namedObject(const std::string& name, std::initializer_list<Chunk3ds> children) {
    return Chunk3ds(NAMED_OBJECT).name(name).add(children);
}

Chunk3ds meshObject(const std::string& name, std::initializer_list<Chunk3ds> parts) {
    return namedObject(name, {Chunk3ds(N_TRI_OBJECT).add(parts)});
}

Chunk3ds material(const std::string& name, int shading, std::initializer_list<Chunk3ds> more) {
    Chunk3ds entry(MAT_ENTRY);
    entry.add(Chunk3ds(MAT_NAME).name(name));
    if (shading >= 0) entry.add(Chunk3ds(MAT_SHADING).u16(uint16_t(shading)));
    return entry.add(more);
}

Chunk3ds colour(uint16_t id, uint8_t r, uint8_t g, uint8_t b) {
    return Chunk3ds(id).add(Chunk3ds(COLOR_24).u8(r).u8(g).u8(b));
}

Chunk3ds percentage(uint16_t id, int16_t percent) { return Chunk3ds(id).add(Chunk3ds(INT_PERCENTAGE).i16(percent)); }

Chunk3ds mapChunk(uint16_t id, const std::string& image, int16_t percent) {
    return Chunk3ds(id).add({Chunk3ds(INT_PERCENTAGE).i16(percent), Chunk3ds(MAT_MAPNAME).name(image)});
}

Chunk3ds trackHeader(uint16_t id, uint32_t keyCount) { return Chunk3ds(id).u16(0).u32(0).u32(0).u32(keyCount); }

Chunk3ds track(uint16_t id, std::initializer_list<std::initializer_list<float>> keys) {
    Chunk3ds chunk = trackHeader(id, uint32_t(keys.size()));
    uint32_t frame = 0;
    for (const auto& key : keys) chunk.u32(frame++).u16(0).floats(key);
    return chunk;
}

Chunk3ds splineTrack(uint16_t id, const std::vector<SplineKey>& keys) {
    Chunk3ds chunk = trackHeader(id, uint32_t(keys.size()));
    for (const SplineKey& key : keys) {
        chunk.u32(key.frame).u16(key.splineFlags);
        for (float v : key.spline) chunk.f32(v);
        for (float v : key.value) chunk.f32(v);
    }
    return chunk;
}

Chunk3ds objectNode(uint16_t id, const std::string& name, uint16_t parentId, std::initializer_list<Chunk3ds> more) {
    return keyframerNode(OBJECT_NODE_TAG, id, name, parentId, more);
}

Chunk3ds keyframerNode(uint16_t tag, uint16_t id, const std::string& name, uint16_t parentId,
                       std::initializer_list<Chunk3ds> more) {
    Chunk3ds node(tag);
    node.add(Chunk3ds(NODE_ID).u16(id));
    node.add(Chunk3ds(NODE_HDR).name(name).u16(0).u16(0).u16(parentId));
    return node.add(more);
}

Chunk3ds camera(std::initializer_list<float> position, std::initializer_list<float> target, float bank, float lens,
                std::initializer_list<Chunk3ds> more) {
    return Chunk3ds(N_CAMERA).floats(position).floats(target).f32(bank).f32(lens).add(more);
}

Chunk3ds omniLight(std::initializer_list<float> position, std::initializer_list<Chunk3ds> more) {
    return Chunk3ds(N_DIRECT_LIGHT).floats(position).add(more);
}

Chunk3ds spotlight(std::initializer_list<float> target, float hotspot, float falloff) {
    return Chunk3ds(DL_SPOTLIGHT).floats(target).f32(hotspot).f32(falloff);
}

}  // namespace kestrav
