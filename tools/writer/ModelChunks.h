#pragma once

// Chunks of a typical model, built with Chunk3ds: whole meshes, materials and
// keyframer nodes, for the example, the benchmark, the fuzz seeds and tests.

#include <array>
#include <initializer_list>
#include <string>
#include <vector>

#include "tools/writer/Chunk3ds.h"

namespace kestrav {

using Face = std::array<uint16_t, 3>;

constexpr uint16_t kNoParent = 0xFFFF;

// Meshes.
Chunk3ds pointArray(const std::vector<float>& xyz);
Chunk3ds texVerts(const std::vector<float>& uv);
Chunk3ds faceArray(const std::vector<Face>& faces, std::initializer_list<Chunk3ds> subChunks = {},
                   uint16_t faceFlags = 0);
Chunk3ds smoothGroup(const std::vector<uint32_t>& masks);
Chunk3ds materialGroup(const std::string& material, const std::vector<uint16_t>& faces);
// The face indices first, first + 1, ..., end - 1.
std::vector<uint16_t> faceRange(uint32_t first, uint32_t end);
// Axes X, Y, Z, then the origin.
Chunk3ds meshMatrix(std::initializer_list<float> frame);
// A 0x4000 object with the given sub-chunks (a mesh, a light, a camera).
Chunk3ds namedObject(const std::string& name, std::initializer_list<Chunk3ds> children);
// A 0x4000 object holding one triangle mesh made of parts.
Chunk3ds meshObject(const std::string& name, std::initializer_list<Chunk3ds> parts);

// Materials. A material without a shading chunk keeps the reader's default,
// 1 (flat); shading -1 writes none.
Chunk3ds material(const std::string& name, int shading = -1, std::initializer_list<Chunk3ds> more = {});
// MAT_AMBIENT, MAT_DIFFUSE or MAT_SPECULAR holding a 24-bit colour.
Chunk3ds colour(uint16_t id, uint8_t r, uint8_t g, uint8_t b);
// A percentage chunk such as MAT_SHININESS holding an integer percentage.
Chunk3ds percentage(uint16_t id, int16_t percent);
// MAT_TEXMAP or MAT_BUMPMAP with its strength and image name.
Chunk3ds mapChunk(uint16_t id, const std::string& image, int16_t percent = 100);

// Keyframer. A track header: flags, two unused words and the key count; the
// keys follow as the caller writes them.
Chunk3ds trackHeader(uint16_t id, uint32_t keyCount);
// A track of keys at frames 0, 1, ... without spline values.
Chunk3ds track(uint16_t id, std::initializer_list<std::initializer_list<float>> keys);
// A key with spline values: one float in spline for each flag bit set, in the
// order tension (0x01), continuity, bias, ease to, ease from (0x10).
struct SplineKey {
    uint32_t frame;
    std::vector<float> value;
    uint16_t splineFlags = 0;
    std::vector<float> spline = {};
};
Chunk3ds splineTrack(uint16_t id, const std::vector<SplineKey>& keys);
Chunk3ds objectNode(uint16_t id, const std::string& name, uint16_t parentId,
                    std::initializer_list<Chunk3ds> more = {});
// A node of another kind: tag is CAMERA_NODE_TAG, TARGET_NODE_TAG, LIGHT_NODE_TAG, ...
Chunk3ds keyframerNode(uint16_t tag, uint16_t id, const std::string& name, uint16_t parentId,
                       std::initializer_list<Chunk3ds> more = {});

// Cameras and lights, to go in namedObject.
Chunk3ds camera(std::initializer_list<float> position, std::initializer_list<float> target, float bank, float lens,
                std::initializer_list<Chunk3ds> more = {});
Chunk3ds omniLight(std::initializer_list<float> position, std::initializer_list<Chunk3ds> more = {});
// DL_SPOTLIGHT, to go in an omniLight's chunks.
Chunk3ds spotlight(std::initializer_list<float> target, float hotspot, float falloff);

}  // namespace kestrav
