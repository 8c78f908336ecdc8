// The chunks of lights, cameras and the scene's ambient and background
// colours. Their sub-chunks are walked inside them, with the walk's own
// framing, so that damage to them costs only the lighting lists.

#include <cstring>

#include "reader/ChunkId.h"
#include "reader/FiniteValues.h"
#include "reader/WalkState.h"

namespace kestrav {

namespace {

void noteColour(WalkState& walk) {
    if (walk.lightingColourSet) *walk.lightingColourSet = true;
}

// COLOR_24 and LIN_COLOR_24 in a light or scene colour: u8 red, green, blue.
Outcome readByteColour(WalkState& walk, ChunkCursor& in) {
    uint8_t rgb[3];
    if (!in.read(rgb, 3)) return Outcome::Damaged;
    // byte / 255, unlike materials: a byte of 255 is a light at full strength,
    // as its writer meant. Materials keep byte / 256 only because scenes
    // depend on those exact values.
    for (int i = 0; i < 3; ++i) walk.lightingColour[i] = rgb[i] / 255.0f;
    walk.lightingColourFromBytes = true;
    noteColour(walk);
    return Outcome::GoOn;
}

// COLOR_F and LIN_COLOR_F in a light or scene colour: three floats. As for
// materials, a byte colour wins over a float one.
Outcome readFloatColour(WalkState& walk, ChunkCursor& in) {
    if (!walk.lightingColourFromBytes) {
        float rgb[3];
        if (!in.readF32(rgb[0]) || !in.readF32(rgb[1]) || !in.readF32(rgb[2]) || !allFinite(rgb, 3))
            return Outcome::Damaged;
        for (int i = 0; i < 3; ++i) walk.lightingColour[i] = clampUnit(rgb[i]);
    }
    noteColour(walk);
    return Outcome::GoOn;
}

// 0x4610 DL_SPOTLIGHT: float target x, y, z, hotspot, falloff.
Outcome readSpotlight(WalkState& walk, ChunkCursor& in) {
    float spot[5];
    const Outcome read = readFloats(in, spot, 5);
    if (read != Outcome::GoOn) return read;
    LightRecord& light = *walk.currentLight();
    std::memcpy(light.target, spot, sizeof(float) * 3);
    light.hotspot = spot[3];
    light.falloff = spot[4];
    light.spot = true;
    return Outcome::GoOn;
}

// 0x4620 DL_OFF: no payload.
Outcome readLightOff(WalkState& walk, ChunkCursor&) {
    walk.currentLight()->off = true;
    return Outcome::GoOn;
}

// 0x465B DL_MULTIPLIER: float.
Outcome readMultiplier(WalkState& walk, ChunkCursor& in) {
    return readFloats(in, &walk.currentLight()->multiplier, 1);
}

// 0x4720 CAM_RANGES: float near and far.
Outcome readCameraRanges(WalkState& walk, ChunkCursor& in) {
    float ranges[2];
    const Outcome read = readFloats(in, ranges, 2);
    if (read != Outcome::GoOn) return read;
    CameraRecord& camera = *walk.currentCamera();
    camera.nearRange = ranges[0];
    camera.farRange = ranges[1];
    camera.hasRanges = true;
    return Outcome::GoOn;
}

// The sub-chunks read inside a light, a camera and a scene colour; any other
// id in them is passed over.
constexpr ChunkRule kLightRules[] = {
    {COLOR_F, Kind::Leaf, readFloatColour},         {COLOR_24, Kind::Leaf, readByteColour},
    {LIN_COLOR_24, Kind::Leaf, readByteColour},     {LIN_COLOR_F, Kind::Leaf, readFloatColour},
    {DL_SPOTLIGHT, Kind::Leaf, readSpotlight},      {DL_OFF, Kind::Leaf, readLightOff},
    {DL_MULTIPLIER, Kind::Leaf, readMultiplier},
};
constexpr ChunkRule kCameraRules[] = {{CAM_RANGES, Kind::Leaf, readCameraRanges}};
constexpr ChunkRule kColourRules[] = {
    {COLOR_F, Kind::Leaf, readFloatColour},
    {COLOR_24, Kind::Leaf, readByteColour},
    {LIN_COLOR_24, Kind::Leaf, readByteColour},
    {LIN_COLOR_F, Kind::Leaf, readFloatColour},
};

void walkColours(WalkState& walk, ChunkCursor& in, float* colour, bool* set, ChunkRules rules) {
    walk.lightingColour = colour;
    walk.lightingColourSet = set;
    walk.lightingColourFromBytes = false;
    walkInside(walk, in, rules);
    walk.lightingColour = nullptr;
    walk.lightingColourSet = nullptr;
}

// 0x4600 N_DIRECT_LIGHT: float x, y, z, then its sub-chunks. A light whose
// position is damaged is left out.
Outcome readLight(WalkState& walk, ChunkCursor& in) {
    float position[3];
    if (readFloats(in, position, 3) != Outcome::GoOn) return walk.lightingDamage();
    LightRecord* light = walk.lists.appendLight(walk.objectName);
    if (!light) return Outcome::OutOfMemory;
    std::memcpy(light->position, position, sizeof position);
    walkColours(walk, in, light->colour, nullptr, checkedRules<kLightRules>());
    return Outcome::GoOn;
}

// 0x4700 N_CAMERA: float position x, y, z, target x, y, z, bank, lens; then
// its sub-chunks. A camera whose fields are damaged is left out.
Outcome readCamera(WalkState& walk, ChunkCursor& in) {
    float fields[8];
    if (readFloats(in, fields, 8) != Outcome::GoOn) return walk.lightingDamage();
    CameraRecord* camera = walk.lists.appendCamera(walk.objectName);
    if (!camera) return Outcome::OutOfMemory;
    std::memcpy(camera->position, fields, sizeof(float) * 3);
    std::memcpy(camera->target, fields + 3, sizeof(float) * 3);
    camera->bank = fields[6];
    camera->lens = fields[7];
    walkInside(walk, in, checkedRules<kCameraRules>());
    return Outcome::GoOn;
}

// 0x2100 AMBIENT_LIGHT: a colour sub-chunk.
Outcome readAmbient(WalkState& walk, ChunkCursor& in) {
    LightingList& lighting = walk.lists.lightingList();
    walkColours(walk, in, lighting.ambient, &lighting.hasAmbient, checkedRules<kColourRules>());
    return Outcome::GoOn;
}

// 0x1200 SOLID_BGND: a colour sub-chunk.
Outcome readBackground(WalkState& walk, ChunkCursor& in) {
    LightingList& lighting = walk.lists.lightingList();
    walkColours(walk, in, lighting.background, &lighting.hasBackground, checkedRules<kColourRules>());
    return Outcome::GoOn;
}

// 0x1201 USE_SOLID_BGND: no payload; the background colour is shown.
Outcome useBackground(WalkState& walk, ChunkCursor&) {
    walk.lists.lightingList().useBackground = true;
    return Outcome::GoOn;
}

constexpr ChunkRule kLightingRules[] = {
    {SOLID_BGND, Kind::Leaf, readBackground}, {USE_SOLID_BGND, Kind::Leaf, useBackground},
    {AMBIENT_LIGHT, Kind::Leaf, readAmbient}, {N_DIRECT_LIGHT, Kind::Leaf, readLight},
    {N_CAMERA, Kind::Leaf, readCamera},
};

}  // namespace

ChunkRules lightingRules() { return checkedRules<kLightingRules>(); }

}  // namespace kestrav
