// The chunks of materials and their maps.

#include <cstdlib>
#include <cstring>

#include "reader/ChunkId.h"
#include "reader/FiniteValues.h"
#include "reader/WalkState.h"

namespace kestrav {

namespace {

constexpr int kMaterialNameSize = 17;
constexpr int kMapNameSize = int(sizeof(MapRecord::fileName));

float* targetColour(const WalkState& walk, MaterialRecord& material) {
    switch (walk.colourTarget) {
    case kAmbient: return material.ambient;
    case kDiffuse: return material.diffuse;
    case kSpecular: return material.specular;
    default: return nullptr;
    }
}

MapRecord* targetMap(const WalkState& walk, MaterialRecord& material) {
    switch (walk.propertyTarget) {
    case kTextureMap: return &material.textureMap;
    case kBumpMap: return &material.bumpMap;
    default: return nullptr;
    }
}

// 0xA000 MAT_NAME: material name; a new material with the values at creation.
Outcome openMaterial(WalkState& walk, ChunkCursor& in) {
    char name[kMaterialNameSize];
    if (!in.readName(name, kMaterialNameSize)) return failureOf(in);
    walk.byteColours = 0;
    return walk.lists.appendMaterial(name) ? Outcome::GoOn : Outcome::OutOfMemory;
}

// The colour, percentage and map chunks only say what their sub-chunks set;
// the target outlives the material.
template <ColourTarget target>
Outcome setColourTarget(WalkState& walk, ChunkCursor&) {
    walk.colourTarget = target;
    return Outcome::GoOn;
}

template <PropertyTarget target>
Outcome setPropertyTarget(WalkState& walk, ChunkCursor&) {
    walk.propertyTarget = target;
    return Outcome::GoOn;
}

// 0x0011 COLOR_24 and 0x0012 LIN_COLOR_24: u8 red, green, blue.
Outcome readByteColour(WalkState& walk, ChunkCursor& in, MaterialRecord& material) {
    uint8_t rgb[3];
    if (!in.read(rgb, 3)) return failureOf(in);
    float* colour = targetColour(walk, material);
    if (!colour) return Outcome::GoOn;
    // byte / 256.0, not 255: files and viewers depend on these exact values.
    for (int i = 0; i < 3; ++i) colour[i] = float(rgb[i] / 256.0);
    walk.byteColours |= 1u << (walk.colourTarget - 1);
    return Outcome::GoOn;
}

// 0x0010 COLOR_F and 0x0013 LIN_COLOR_F: three floats. Many exporters write
// only these; a byte colour of the same material still wins.
Outcome readFloatColour(WalkState& walk, ChunkCursor& in, MaterialRecord& material) {
    float rgb[3];
    if (!in.readF32(rgb[0]) || !in.readF32(rgb[1]) || !in.readF32(rgb[2])) return failureOf(in);
    float* colour = targetColour(walk, material);
    if (!colour || walk.byteColours & 1u << (walk.colourTarget - 1)) return Outcome::GoOn;
    for (int i = 0; i < 3; ++i) colour[i] = clampUnit(rgb[i]);
    return Outcome::GoOn;
}

// 0x0030 INT_PERCENTAGE: i16 percent, stored as a fraction.
Outcome readPercentage(WalkState& walk, ChunkCursor& in, MaterialRecord& material) {
    int16_t percent;
    if (!in.readI16(percent)) return failureOf(in);
    const float fraction = float(percent / 100.0);
    switch (walk.propertyTarget) {
    case kShininess: material.shininess = fraction; break;
    case kShininessStrength: material.shininessStrength = fraction; break;
    case kTransparency: material.transparency = fraction; break;
    case kTransparencyFalloff: material.transparencyFalloff = fraction; break;
    case kReflectionBlur: material.reflectionBlur = fraction; break;
    case kSelfIllumination: material.selfIllumination = fraction; break;
    case kTextureMap: material.textureMap.percentage = fraction; break;
    case kBumpMap: material.bumpMap.percentage = fraction; break;
    default: break;
    }
    return Outcome::GoOn;
}

// The flag chunks, without payload.
template <bool MaterialRecord::*flag>
Outcome setFlag(WalkState&, ChunkCursor&, MaterialRecord& material) {
    material.*flag = true;
    return Outcome::GoOn;
}

// 0xA087 MAT_WIRESIZE: float.
Outcome readWireSize(WalkState&, ChunkCursor& in, MaterialRecord& material) {
    return readFloats(in, &material.wireSize, 1);
}

// 0xA100 MAT_SHADING: u16 into the low half of the shading field.
Outcome readShading(WalkState&, ChunkCursor& in, MaterialRecord& material) {
    uint16_t shading;
    if (!in.readU16(shading)) return failureOf(in);
    material.shading = int32_t((uint32_t(material.shading) & 0xFFFF0000u) | shading);
    return Outcome::GoOn;
}

// 0xA300 MAT_MAPNAME: the map's file name, dropped unless a map is the target.
Outcome readMapName(WalkState& walk, ChunkCursor& in, MaterialRecord& material) {
    char name[kMapNameSize];
    if (!in.readName(name, kMapNameSize)) return failureOf(in);
    if (MapRecord* map = targetMap(walk, material)) std::memcpy(map->fileName, name, sizeof name);
    return Outcome::GoOn;
}

// 0xA351 MAT_MAP_TILING: u16 flags, decoded into the target map.
Outcome readTiling(WalkState& walk, ChunkCursor& in, MaterialRecord& material) {
    uint16_t flags;
    if (!in.readU16(flags)) return failureOf(in);
    MapRecord* map = targetMap(walk, material);
    if (!map) return Outcome::GoOn;
    map->tilingMode = std::abs((flags & 0x01) * 3 - (flags & 0x10));
    map->ignoreAlpha = (flags & 0x100) != 0;
    map->summedArea = flags & 0x20;
    map->mirror = uint8_t(flags & 0x02);
    map->negative = uint8_t(flags & 0x08);
    return Outcome::GoOn;
}

// 0xA353 to 0xA35C: one float of the target map's parameters.
template <float MapRecord::*field>
Outcome readMapFloat(WalkState& walk, ChunkCursor& in, MaterialRecord& material) {
    float value;
    if (!in.readF32(value)) return failureOf(in);
    if (!isFiniteValue(value)) return Outcome::Damaged;
    if (MapRecord* map = targetMap(walk, material)) map->*field = value;
    return Outcome::GoOn;
}

constexpr ChunkRule kMaterialRules[] = {
    {COLOR_F, Kind::Leaf, onMaterial<readFloatColour>},
    {COLOR_24, Kind::Leaf, onMaterial<readByteColour>},
    {LIN_COLOR_24, Kind::Leaf, onMaterial<readByteColour>},
    {LIN_COLOR_F, Kind::Leaf, onMaterial<readFloatColour>},
    {INT_PERCENTAGE, Kind::Leaf, onMaterial<readPercentage>},
    {MAT_NAME, Kind::Leaf, openMaterial},
    {MAT_AMBIENT, Kind::Descended, setColourTarget<kAmbient>},
    {MAT_DIFFUSE, Kind::Descended, setColourTarget<kDiffuse>},
    {MAT_SPECULAR, Kind::Descended, setColourTarget<kSpecular>},
    {MAT_SHININESS, Kind::Descended, setPropertyTarget<kShininess>},
    {MAT_SHIN2PCT, Kind::Descended, setPropertyTarget<kShininessStrength>},
    {MAT_TRANSPARENCY, Kind::Descended, setPropertyTarget<kTransparency>},
    {MAT_XPFALL, Kind::Descended, setPropertyTarget<kTransparencyFalloff>},
    {MAT_REFBLUR, Kind::Descended, setPropertyTarget<kReflectionBlur>},
    {MAT_SELF_ILLUM, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::selfIlluminated>>},
    {MAT_TWO_SIDE, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::twoSided>>},
    {MAT_DECAL, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::decal>>},
    {MAT_ADDITIVE, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::additive>>},
    {MAT_SELF_ILPCT, Kind::Descended, setPropertyTarget<kSelfIllumination>},
    {MAT_WIRE, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::wire>>},
    {MAT_WIRESIZE, Kind::Leaf, onMaterial<readWireSize>},
    {MAT_FACEMAP, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::faceMap>>},
    {MAT_PHONGSOFT, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::softPhong>>},
    {MAT_WIREABS, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::wireAbsolute>>},
    {MAT_SHADING, Kind::Leaf, onMaterial<readShading>},
    {MAT_TEXMAP, Kind::Descended, setPropertyTarget<kTextureMap>},
    {MAT_BUMPMAP, Kind::Descended, setPropertyTarget<kBumpMap>},
    {MAT_USE_XPFALL, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::useFalloff>>},
    {MAT_USE_REFBLUR, Kind::Leaf, onMaterial<setFlag<&MaterialRecord::useReflectionBlur>>},
    {MAT_MAPNAME, Kind::Leaf, onMaterial<readMapName>},
    {MAT_MAP_TILING, Kind::Leaf, onMaterial<readTiling>},
    {MAT_MAP_TEXBLUR, Kind::Leaf, onMaterial<readMapFloat<&MapRecord::blur>>},
    {MAT_MAP_USCALE, Kind::Leaf, onMaterial<readMapFloat<&MapRecord::uScale>>},
    {MAT_MAP_VSCALE, Kind::Leaf, onMaterial<readMapFloat<&MapRecord::vScale>>},
    {MAT_MAP_UOFFSET, Kind::Leaf, onMaterial<readMapFloat<&MapRecord::uOffset>>},
    {MAT_MAP_VOFFSET, Kind::Leaf, onMaterial<readMapFloat<&MapRecord::vOffset>>},
    {MAT_MAP_ANG, Kind::Leaf, onMaterial<readMapFloat<&MapRecord::rotation>>},
    {MAT_ENTRY, Kind::Container, nullptr},
};

}  // namespace

ChunkRules materialRules() { return checkedRules<kMaterialRules>(); }

}  // namespace kestrav
