#pragma once

// Chunks of a typical model, built with Chunk3ds, for tests that need whole
// meshes, materials and keyframer nodes rather than single damaged chunks.

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/Chunk3ds.h"

using Face = std::array<uint16_t, 3>;

inline Chunk3ds pointArray(const std::vector<float>& xyz) {
    Chunk3ds chunk(POINT_ARRAY);
    chunk.u16(uint16_t(xyz.size() / 3));
    for (float v : xyz) chunk.f32(v);
    return chunk;
}

inline Chunk3ds faceArray(const std::vector<Face>& faces, std::initializer_list<Chunk3ds> subChunks = {}) {
    Chunk3ds chunk(FACE_ARRAY);
    chunk.u16(uint16_t(faces.size()));
    for (const Face& f : faces) chunk.u16(f[0]).u16(f[1]).u16(f[2]).u16(0);
    for (const Chunk3ds& sub : subChunks) chunk.add(sub);
    return chunk;
}

inline Chunk3ds smoothGroup(const std::vector<uint32_t>& masks) {
    Chunk3ds chunk(SMOOTH_GROUP);
    for (uint32_t m : masks) chunk.u32(m);
    return chunk;
}

inline Chunk3ds materialGroup(const std::string& material, const std::vector<uint16_t>& faces) {
    Chunk3ds chunk(MSH_MAT_GROUP);
    chunk.name(material).u16(uint16_t(faces.size()));
    for (uint16_t f : faces) chunk.u16(f);
    return chunk;
}

inline Chunk3ds meshObject(const std::string& name, std::initializer_list<Chunk3ds> parts) {
    Chunk3ds mesh(N_TRI_OBJECT);
    for (const Chunk3ds& part : parts) mesh.add(part);
    Chunk3ds object(NAMED_OBJECT);
    object.name(name).add(mesh);
    return object;
}

// A material without a shading chunk keeps the reader's default, 1 (flat).
inline Chunk3ds material(const std::string& name, int shading = -1, std::initializer_list<Chunk3ds> more = {}) {
    Chunk3ds entry(MAT_ENTRY);
    entry.add(Chunk3ds(MAT_NAME).name(name));
    if (shading >= 0) entry.add(Chunk3ds(MAT_SHADING).u16(uint16_t(shading)));
    for (const Chunk3ds& chunk : more) entry.add(chunk);
    return entry;
}

// A track of keys at frames 0, 1, ... without spline values.
inline Chunk3ds track(uint16_t id, std::initializer_list<std::initializer_list<float>> keys) {
    Chunk3ds chunk(id);
    chunk.u16(0).u32(0).u32(0).u32(uint32_t(keys.size()));
    uint32_t frame = 0;
    for (const auto& key : keys) chunk.u32(frame++).u16(0).floats(key);
    return chunk;
}

constexpr uint16_t kNoParent = 0xFFFF;

inline Chunk3ds objectNode(uint16_t id, const std::string& name, uint16_t parentId,
                           std::initializer_list<Chunk3ds> more = {}) {
    Chunk3ds node(OBJECT_NODE_TAG);
    node.add(Chunk3ds(NODE_ID).u16(id));
    node.add(Chunk3ds(NODE_HDR).name(name).u16(0).u16(0).u16(parentId));
    for (const Chunk3ds& chunk : more) node.add(chunk);
    return node;
}
