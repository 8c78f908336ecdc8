#include "reader/ChunkWalk.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "reader/ChunkCursor.h"
#include "reader/ChunkId.h"
#include "reader/FiniteValues.h"
#include "reader/ModelLists.h"

namespace kestrav {

namespace {

constexpr int64_t kChunkHeaderSize = 6;
constexpr int64_t kLargestOffset = 0x7FFFFFFF;

constexpr int kObjectNameSize = 20;
constexpr int kMaterialNameSize = 17;
constexpr int kMapNameSize = int(sizeof(MapRecord::fileName));
constexpr int kNodeNameSize = 11;

enum class Kind : uint8_t {
    Skipped,    // payload and sub-chunks passed over by the chunk's length
    Container,  // nothing read: the next header is its first sub-chunk
    Descended,  // a payload is read, then its sub-chunks follow
    Leaf,       // a payload is read, then the walk goes on at the chunk's end
};

// The record a chunk writes into. A chunk whose record does not exist yet is
// skipped whole before its handler runs, so no handler meets a missing record.
enum class Needs : uint8_t { Nothing, Mesh, Material, Node };

struct ChunkRule {
    uint16_t id;
    Kind kind;
    Needs needs;
};

// Every chunk the walk knows, by id; any other id is skipped. The chunks that
// only open a record or say what their sub-chunks set need no record.
constexpr ChunkRule kChunkRules[] = {
    {COLOR_F, Kind::Leaf, Needs::Material},
    {COLOR_24, Kind::Leaf, Needs::Material},
    {LIN_COLOR_24, Kind::Leaf, Needs::Material},
    {LIN_COLOR_F, Kind::Leaf, Needs::Material},
    {INT_PERCENTAGE, Kind::Leaf, Needs::Material},
    {SOLID_BGND, Kind::Leaf, Needs::Nothing},
    {USE_SOLID_BGND, Kind::Leaf, Needs::Nothing},
    {AMBIENT_LIGHT, Kind::Leaf, Needs::Nothing},
    {MDATA, Kind::Container, Needs::Nothing},
    {NAMED_OBJECT, Kind::Descended, Needs::Nothing},
    {N_TRI_OBJECT, Kind::Descended, Needs::Nothing},
    {POINT_ARRAY, Kind::Leaf, Needs::Mesh},
    {POINT_FLAG_ARRAY, Kind::Leaf, Needs::Mesh},
    {FACE_ARRAY, Kind::Descended, Needs::Mesh},
    {MSH_MAT_GROUP, Kind::Leaf, Needs::Mesh},
    {TEX_VERTS, Kind::Leaf, Needs::Mesh},
    {SMOOTH_GROUP, Kind::Leaf, Needs::Mesh},
    {MESH_MATRIX, Kind::Leaf, Needs::Mesh},
    {N_DIRECT_LIGHT, Kind::Leaf, Needs::Nothing},
    {N_CAMERA, Kind::Leaf, Needs::Nothing},
    {M3DMAGIC, Kind::Container, Needs::Nothing},
    {MAT_NAME, Kind::Leaf, Needs::Nothing},
    {MAT_AMBIENT, Kind::Descended, Needs::Nothing},
    {MAT_DIFFUSE, Kind::Descended, Needs::Nothing},
    {MAT_SPECULAR, Kind::Descended, Needs::Nothing},
    {MAT_SHININESS, Kind::Descended, Needs::Nothing},
    {MAT_SHIN2PCT, Kind::Descended, Needs::Nothing},
    {MAT_TRANSPARENCY, Kind::Descended, Needs::Nothing},
    {MAT_XPFALL, Kind::Descended, Needs::Nothing},
    {MAT_REFBLUR, Kind::Descended, Needs::Nothing},
    {MAT_SELF_ILLUM, Kind::Leaf, Needs::Material},
    {MAT_TWO_SIDE, Kind::Leaf, Needs::Material},
    {MAT_DECAL, Kind::Leaf, Needs::Material},
    {MAT_ADDITIVE, Kind::Leaf, Needs::Material},
    {MAT_SELF_ILPCT, Kind::Descended, Needs::Nothing},
    {MAT_WIRE, Kind::Leaf, Needs::Material},
    {MAT_WIRESIZE, Kind::Leaf, Needs::Material},
    {MAT_FACEMAP, Kind::Leaf, Needs::Material},
    {MAT_PHONGSOFT, Kind::Leaf, Needs::Material},
    {MAT_WIREABS, Kind::Leaf, Needs::Material},
    {MAT_SHADING, Kind::Leaf, Needs::Material},
    {MAT_TEXMAP, Kind::Descended, Needs::Nothing},
    {MAT_BUMPMAP, Kind::Descended, Needs::Nothing},
    {MAT_USE_XPFALL, Kind::Leaf, Needs::Material},
    {MAT_USE_REFBLUR, Kind::Leaf, Needs::Material},
    {MAT_MAPNAME, Kind::Leaf, Needs::Material},
    {MAT_MAP_TILING, Kind::Leaf, Needs::Material},
    {MAT_MAP_TEXBLUR, Kind::Leaf, Needs::Material},
    {MAT_MAP_USCALE, Kind::Leaf, Needs::Material},
    {MAT_MAP_VSCALE, Kind::Leaf, Needs::Material},
    {MAT_MAP_UOFFSET, Kind::Leaf, Needs::Material},
    {MAT_MAP_VOFFSET, Kind::Leaf, Needs::Material},
    {MAT_MAP_ANG, Kind::Leaf, Needs::Material},
    {MAT_ENTRY, Kind::Container, Needs::Nothing},
    {KFDATA, Kind::Container, Needs::Nothing},
    {AMBIENT_NODE_TAG, Kind::Container, Needs::Nothing},
    {OBJECT_NODE_TAG, Kind::Container, Needs::Nothing},
    {CAMERA_NODE_TAG, Kind::Container, Needs::Nothing},
    {TARGET_NODE_TAG, Kind::Container, Needs::Nothing},
    {LIGHT_NODE_TAG, Kind::Container, Needs::Nothing},
    {L_TARGET_NODE_TAG, Kind::Container, Needs::Nothing},
    {SPOTLIGHT_NODE_TAG, Kind::Container, Needs::Nothing},
    {KFSEG, Kind::Leaf, Needs::Nothing},
    {KFCURTIME, Kind::Leaf, Needs::Nothing},
    {NODE_HDR, Kind::Leaf, Needs::Nothing},
    {INSTANCE_NAME, Kind::Leaf, Needs::Node},
    {PIVOT, Kind::Leaf, Needs::Node},
    {BOUNDBOX, Kind::Leaf, Needs::Node},
    {POS_TRACK_TAG, Kind::Leaf, Needs::Node},
    {ROT_TRACK_TAG, Kind::Leaf, Needs::Node},
    {SCL_TRACK_TAG, Kind::Leaf, Needs::Node},
    {FOV_TRACK_TAG, Kind::Leaf, Needs::Node},
    {ROLL_TRACK_TAG, Kind::Leaf, Needs::Node},
    {COL_TRACK_TAG, Kind::Leaf, Needs::Node},
    {HOT_TRACK_TAG, Kind::Leaf, Needs::Node},
    {FALL_TRACK_TAG, Kind::Leaf, Needs::Node},
    {HIDE_TRACK_TAG, Kind::Leaf, Needs::Node},
    {NODE_ID, Kind::Leaf, Needs::Nothing},
};

constexpr bool rulesAscend() {
    for (size_t i = 1; i < std::size(kChunkRules); ++i)
        if (kChunkRules[i - 1].id >= kChunkRules[i].id) return false;
    return true;
}
static_assert(rulesAscend(), "the rules are searched by halving: keep them in ascending id order, each once");

ChunkRule ruleOf(uint16_t id) {
    const ChunkRule* end = std::end(kChunkRules);
    const ChunkRule* rule = std::lower_bound(std::begin(kChunkRules), end, id,
                                             [](const ChunkRule& r, uint16_t key) { return r.id < key; });
    if (rule != end && rule->id == id) return *rule;
    return {id, Kind::Skipped, Needs::Nothing};
}

// Damaged: the chunk is too short for its fields or its count, or holds a
// number that is not finite where one must be. It is skipped whole, and the
// record keeps what it had before it.
enum class Outcome { GoOn, SkipChunk, Damaged, Truncated, BadChunkLength, OutOfMemory };

// What the colour and percentage sub-chunks of a material set. A target
// outlives the material that set it.
enum ColourTarget { kNoColour = 0, kAmbient = 1, kDiffuse = 2, kSpecular = 3 };
enum PropertyTarget {
    kNoProperty,
    kShininess,
    kShininessStrength,
    kTransparency,
    kTransparencyFalloff,
    kReflectionBlur,
    kSelfIllumination,
    kTextureMap,
    kBumpMap,
};

Outcome failureOf(const ChunkCursor& in) {
    return in.failure() == ChunkCursor::Failure::FileEnded ? Outcome::Truncated : Outcome::Damaged;
}

template <class T>
void replace(T*& field, T* array) {
    std::free(field);
    field = array;
}

float clampUnit(float v) {
    if (!(v > 0.0f)) return 0.0f;  // also not-a-number
    return v > 1.0f ? 1.0f : v;
}

// A colour sub-chunk of a light or scene colour; other ids are passed over. As
// for materials, a byte colour wins over a float one. False when it is damaged.
bool readColourChunk(uint16_t id, ChunkCursor& in, float* colour, bool& fromBytes) {
    if (id == COLOR_24 || id == LIN_COLOR_24) {
        uint8_t rgb[3];
        if (!in.read(rgb, 3)) return false;
        for (int i = 0; i < 3; ++i) colour[i] = rgb[i] / 255.0f;
        fromBytes = true;
    } else if ((id == COLOR_F || id == LIN_COLOR_F) && !fromBytes) {
        float rgb[3];
        if (!in.readF32(rgb[0]) || !in.readF32(rgb[1]) || !in.readF32(rgb[2]) || !allFinite(rgb, 3)) return false;
        for (int i = 0; i < 3; ++i) colour[i] = clampUnit(rgb[i]);
    }
    return true;
}

class ChunkWalk {
public:
    ChunkWalk(FILE* input, int64_t size, ModelLists& model) : file(input), fileSize(size), lists(model) {}
    Outcome run();
    // True once a damaged chunk was skipped or a vertex is not finite.
    bool metLocalDamage() const { return localDamage; }

private:
    // The last record of its list, or null while the list is empty.
    MeshRecord* currentMesh();
    MaterialRecord* currentMaterial();
    KeyframeNode* currentNode();
    bool recordExists(Needs needs);

    // One handler per record a chunk needs, so each gets the record as a
    // reference that the table made sure exists.
    Outcome handle(const ChunkRule& rule, ChunkCursor& in);
    Outcome handleOpening(uint16_t id, ChunkCursor& in);
    Outcome handleMesh(uint16_t id, ChunkCursor& in, MeshRecord& mesh);
    Outcome handleMaterial(uint16_t id, ChunkCursor& in, MaterialRecord& material);
    Outcome handleNode(uint16_t id, ChunkCursor& in, KeyframeNode& node);

    float* targetColour(MaterialRecord& material) const;
    MapRecord* targetMap(MaterialRecord& material) const;
    bool openNode(bool hasId, uint16_t id);
    void enterContainer(uint16_t id);

    // Allocates count elements of T from the model's allocator, or null for a
    // count of 0; false when memory runs out.
    template <class T>
    bool allocateArray(T*& out, size_t count);
    // Reads count values of T, after checking that the chunk holds them, into
    // an array from the model's allocator; null for a count of 0.
    template <class T>
    Outcome readArray(ChunkCursor& in, uint32_t count, T*& out);

    Outcome readPoints(ChunkCursor& in, MeshRecord& mesh);
    Outcome readPointFlags(ChunkCursor& in, MeshRecord& mesh);
    Outcome readFaces(ChunkCursor& in, MeshRecord& mesh);
    Outcome readMaterialGroup(ChunkCursor& in, MeshRecord& mesh);
    Outcome readTexCoords(ChunkCursor& in, MeshRecord& mesh);
    Outcome readSmoothing(ChunkCursor& in, MeshRecord& mesh);
    Outcome readMatrix(ChunkCursor& in, MeshRecord& mesh);
    Outcome readByteColour(ChunkCursor& in, MaterialRecord& material);
    Outcome readFloatColour(ChunkCursor& in, MaterialRecord& material);
    Outcome readPercentage(ChunkCursor& in, MaterialRecord& material);
    Outcome readMapName(ChunkCursor& in, MaterialRecord& material);
    Outcome readTiling(ChunkCursor& in, MaterialRecord& material);
    Outcome readMapFloat(ChunkCursor& in, MaterialRecord& material, float MapRecord::*field);
    Outcome readNodeHeader(ChunkCursor& in);
    Outcome readFloats(ChunkCursor& in, float* out, int count);
    Outcome readTrack(ChunkCursor& in, int valueCount, uint32_t& keyCount, TrackKey*& keys, float*& values);
    Outcome readLightingTrack(ChunkCursor& in, int valueCount, Track& track);
    Outcome readLight(ChunkCursor& in);
    Outcome readCamera(ChunkCursor& in);
    Outcome readSceneColour(ChunkCursor& in, float* colour, bool& present);
    template <class Handler>
    void readSubChunks(ChunkCursor& in, Handler handler);
    Outcome lightingDamage();
    Outcome readHideTrack(ChunkCursor& in, KeyframeNode& node);

    FILE* file;
    int64_t fileSize;
    ModelLists& lists;
    int64_t furthestEnd = 0;
    bool localDamage = false;
    char currentName[kObjectNameSize] = {};
    ColourTarget colourTarget = kNoColour;
    PropertyTarget propertyTarget = kNoProperty;
    // Bit k is set once a byte colour has set colour target k + 1 of the
    // current material; a float colour then leaves that colour alone.
    unsigned byteColours = 0;
    // Set by a node id chunk, or by a node header that had to open its own
    // node; a header closes it. The next header names an open node rather
    // than opening one.
    bool nodeOpen = false;
    // The keyframer chunk around the nodes being read (OBJECT_NODE_TAG, ...).
    uint16_t nodeTag = 0;
};

MeshRecord* ChunkWalk::currentMesh() {
    MeshList& meshes = lists.meshList();
    return meshes.count ? &meshes.records[meshes.count - 1] : nullptr;
}

MaterialRecord* ChunkWalk::currentMaterial() {
    MaterialList& materials = lists.materialList();
    return materials.count ? &materials.records[materials.count - 1] : nullptr;
}

KeyframeNode* ChunkWalk::currentNode() {
    KeyframeList& keyframes = lists.keyframeList();
    return keyframes.count ? &keyframes.nodes[keyframes.count - 1] : nullptr;
}

bool ChunkWalk::recordExists(Needs needs) {
    switch (needs) {
    case Needs::Mesh: return currentMesh() != nullptr;
    case Needs::Material: return currentMaterial() != nullptr;
    case Needs::Node: return currentNode() != nullptr;
    default: return true;
    }
}

float* ChunkWalk::targetColour(MaterialRecord& material) const {
    switch (colourTarget) {
    case kAmbient: return material.ambient;
    case kDiffuse: return material.diffuse;
    case kSpecular: return material.specular;
    default: return nullptr;
    }
}

MapRecord* ChunkWalk::targetMap(MaterialRecord& material) const {
    switch (propertyTarget) {
    case kTextureMap: return &material.textureMap;
    case kBumpMap: return &material.bumpMap;
    default: return nullptr;
    }
}

bool ChunkWalk::openNode(bool hasId, uint16_t id) {
    if (!lists.appendNode(hasId, id)) return false;
    currentNode()->tag = nodeTag;
    nodeOpen = true;
    return true;
}

// The node chunks say what kind of object the nodes inside them move.
void ChunkWalk::enterContainer(uint16_t id) {
    switch (id) {
    case AMBIENT_NODE_TAG:
    case OBJECT_NODE_TAG:
    case CAMERA_NODE_TAG:
    case TARGET_NODE_TAG:
    case LIGHT_NODE_TAG:
    case L_TARGET_NODE_TAG:
    case SPOTLIGHT_NODE_TAG: nodeTag = id; break;
    default: break;
    }
}

Outcome ChunkWalk::run() {
    int64_t position = 0;
    while (position < fileSize) {
        if (fileSize - position < kChunkHeaderSize) return Outcome::Truncated;
        ChunkCursor header(file, position, fileSize);
        uint16_t id;
        uint32_t length;
        if (!header.readU16(id) || !header.readU32(length)) return Outcome::Truncated;
        // A length below the header's own would hold the walk in place or move it back.
        if (length < kChunkHeaderSize || length > kLargestOffset - position) return Outcome::BadChunkLength;
        const int64_t end = position + length;
        const ChunkRule rule = ruleOf(id);

        if (rule.kind == Kind::Container) {
            enterContainer(id);
            if (end > furthestEnd) furthestEnd = end;
            position = header.offset();
            continue;
        }
        Outcome outcome = Outcome::SkipChunk;
        if (rule.kind != Kind::Skipped) {
            if (rule.kind == Kind::Leaf && end > fileSize) return Outcome::Truncated;
            // Sub-chunks with no record to write into are skipped whole.
            if (recordExists(rule.needs)) {
                ChunkCursor in(file, header.offset(), end);
                outcome = handle(rule, in);
                position = in.offset();
            }
        }
        if (outcome == Outcome::GoOn && rule.kind == Kind::Descended) {
            if (end > furthestEnd) furthestEnd = end;
            continue;
        }
        if (outcome == Outcome::Damaged) {
            // Its length is sound, so the next chunk is where it says; a
            // damaged face array takes its sub-chunks with it.
            localDamage = true;
            outcome = Outcome::SkipChunk;
        }
        if (outcome != Outcome::GoOn && outcome != Outcome::SkipChunk) return outcome;
        // Go on at the declared end, whatever the handler read, so a damaged
        // chunk cannot pull the walk out of step.
        if (end > fileSize) return Outcome::Truncated;
        if (end != position && std::fseek(file, long(end), SEEK_SET) != 0) return Outcome::Truncated;
        position = end;
    }
    // A container that reaches past the last byte lost its tail.
    return furthestEnd > fileSize ? Outcome::Truncated : Outcome::GoOn;
}

Outcome ChunkWalk::handle(const ChunkRule& rule, ChunkCursor& in) {
    switch (rule.needs) {
    case Needs::Mesh: return handleMesh(rule.id, in, *currentMesh());
    case Needs::Material: return handleMaterial(rule.id, in, *currentMaterial());
    case Needs::Node: return handleNode(rule.id, in, *currentNode());
    default: return handleOpening(rule.id, in);
    }
}

// The chunks that need no record: they open one, set a target, or write into
// the lists themselves.
Outcome ChunkWalk::handleOpening(uint16_t id, ChunkCursor& in) {
    switch (id) {
    // 0x4000 NAMED_OBJECT: object name; a light's or camera's name passes through too.
    case NAMED_OBJECT:
        return in.readName(currentName, kObjectNameSize) ? Outcome::GoOn : failureOf(in);
    // 0x4100 N_TRI_OBJECT: no payload; a new mesh named after the last 0x4000.
    case N_TRI_OBJECT:
        return lists.appendMesh(currentName) ? Outcome::GoOn : Outcome::OutOfMemory;

    // 0xA000 MAT_NAME: material name; a new material with the values at creation.
    case MAT_NAME: {
        char name[kMaterialNameSize];
        if (!in.readName(name, kMaterialNameSize)) return failureOf(in);
        byteColours = 0;
        return lists.appendMaterial(name) ? Outcome::GoOn : Outcome::OutOfMemory;
    }
    // The colour, percentage and map chunks only say what their sub-chunks set;
    // the target outlives the material.
    case MAT_AMBIENT: colourTarget = kAmbient; return Outcome::GoOn;
    case MAT_DIFFUSE: colourTarget = kDiffuse; return Outcome::GoOn;
    case MAT_SPECULAR: colourTarget = kSpecular; return Outcome::GoOn;
    case MAT_SHININESS: propertyTarget = kShininess; return Outcome::GoOn;
    case MAT_SHIN2PCT: propertyTarget = kShininessStrength; return Outcome::GoOn;
    case MAT_TRANSPARENCY: propertyTarget = kTransparency; return Outcome::GoOn;
    case MAT_XPFALL: propertyTarget = kTransparencyFalloff; return Outcome::GoOn;
    case MAT_REFBLUR: propertyTarget = kReflectionBlur; return Outcome::GoOn;
    case MAT_SELF_ILPCT: propertyTarget = kSelfIllumination; return Outcome::GoOn;
    case MAT_TEXMAP: propertyTarget = kTextureMap; return Outcome::GoOn;
    case MAT_BUMPMAP: propertyTarget = kBumpMap; return Outcome::GoOn;

    // 0xB008 KFSEG: u32 first and u32 last frame of the active segment.
    case KFSEG: {
        uint32_t start, end;
        if (!in.readU32(start) || !in.readU32(end)) return failureOf(in);
        KeyframeList& keyframes = lists.keyframeList();
        keyframes.segmentStart = start;
        keyframes.segmentEnd = end;
        keyframes.segmentGiven = 1;
        return Outcome::GoOn;
    }
    // 0xB009 KFCURTIME: u32, the time the file was saved at.
    case KFCURTIME:
        return in.readU32(lists.keyframeList().currentTime) ? Outcome::GoOn : failureOf(in);
    // 0xB030 NODE_ID: u16 id; opens a new node.
    case NODE_ID: {
        uint16_t nodeId;
        if (!in.readU16(nodeId)) return failureOf(in);
        return openNode(true, nodeId) ? Outcome::GoOn : Outcome::OutOfMemory;
    }
    case NODE_HDR: return readNodeHeader(in);

    case N_DIRECT_LIGHT: return readLight(in);
    case N_CAMERA: return readCamera(in);
    case AMBIENT_LIGHT: {
        LightingList& lighting = lists.lightingList();
        return readSceneColour(in, lighting.ambient, lighting.hasAmbient);
    }
    case SOLID_BGND: {
        LightingList& lighting = lists.lightingList();
        return readSceneColour(in, lighting.background, lighting.hasBackground);
    }
    case USE_SOLID_BGND: lists.lightingList().useBackground = 1; return Outcome::GoOn;
    default: return Outcome::SkipChunk;
    }
}

Outcome ChunkWalk::handleMesh(uint16_t id, ChunkCursor& in, MeshRecord& mesh) {
    switch (id) {
    case POINT_ARRAY: return readPoints(in, mesh);
    case POINT_FLAG_ARRAY: return readPointFlags(in, mesh);
    case FACE_ARRAY: return readFaces(in, mesh);
    case MSH_MAT_GROUP: return readMaterialGroup(in, mesh);
    case TEX_VERTS: return readTexCoords(in, mesh);
    case SMOOTH_GROUP: return readSmoothing(in, mesh);
    case MESH_MATRIX: return readMatrix(in, mesh);
    default: return Outcome::SkipChunk;
    }
}

Outcome ChunkWalk::handleMaterial(uint16_t id, ChunkCursor& in, MaterialRecord& material) {
    switch (id) {
    case COLOR_24:
    case LIN_COLOR_24: return readByteColour(in, material);
    case COLOR_F:
    case LIN_COLOR_F: return readFloatColour(in, material);
    case INT_PERCENTAGE: return readPercentage(in, material);

    // Flag chunks without payload.
    case MAT_SELF_ILLUM: material.selfIlluminated = 1; return Outcome::GoOn;
    case MAT_TWO_SIDE: material.twoSided = 1; return Outcome::GoOn;
    case MAT_DECAL: material.decal = 1; return Outcome::GoOn;
    case MAT_ADDITIVE: material.additive = 1; return Outcome::GoOn;
    case MAT_WIRE: material.wire = 1; return Outcome::GoOn;
    case MAT_FACEMAP: material.faceMap = 1; return Outcome::GoOn;
    case MAT_PHONGSOFT: material.softPhong = 1; return Outcome::GoOn;
    case MAT_WIREABS: material.wireAbsolute = 1; return Outcome::GoOn;
    case MAT_USE_XPFALL: material.useFalloff = 1; return Outcome::GoOn;
    case MAT_USE_REFBLUR: material.useReflectionBlur = 1; return Outcome::GoOn;

    // 0xA087 MAT_WIRESIZE: float.
    case MAT_WIRESIZE: return readFloats(in, &material.wireSize, 1);
    // 0xA100 MAT_SHADING: u16 into the low half of the shading field.
    case MAT_SHADING: {
        uint16_t shading;
        if (!in.readU16(shading)) return failureOf(in);
        material.shading = int32_t((uint32_t(material.shading) & 0xFFFF0000u) | shading);
        return Outcome::GoOn;
    }
    case MAT_MAPNAME: return readMapName(in, material);
    case MAT_MAP_TILING: return readTiling(in, material);
    case MAT_MAP_TEXBLUR: return readMapFloat(in, material, &MapRecord::blur);
    case MAT_MAP_USCALE: return readMapFloat(in, material, &MapRecord::uScale);
    case MAT_MAP_VSCALE: return readMapFloat(in, material, &MapRecord::vScale);
    case MAT_MAP_UOFFSET: return readMapFloat(in, material, &MapRecord::uOffset);
    case MAT_MAP_VOFFSET: return readMapFloat(in, material, &MapRecord::vOffset);
    case MAT_MAP_ANG: return readMapFloat(in, material, &MapRecord::rotation);
    default: return Outcome::SkipChunk;
    }
}

Outcome ChunkWalk::handleNode(uint16_t id, ChunkCursor& in, KeyframeNode& node) {
    switch (id) {
    // 0xB011 INSTANCE_NAME: instance name of the current node.
    case INSTANCE_NAME:
        return in.readName(node.instanceName, kNodeNameSize) ? Outcome::GoOn : failureOf(in);
    case PIVOT: return readFloats(in, node.pivot, 3);
    case BOUNDBOX: return readFloats(in, node.boundingBox, 6);
    case POS_TRACK_TAG:
        return readTrack(in, 3, node.positionKeyCount, node.positionKeys, node.positionValues);
    case ROT_TRACK_TAG:
        return readTrack(in, 4, node.rotationKeyCount, node.rotationKeys, node.rotationValues);
    case SCL_TRACK_TAG:
        return readTrack(in, 3, node.scaleKeyCount, node.scaleKeys, node.scaleValues);
    case FOV_TRACK_TAG: return readLightingTrack(in, 1, node.fieldOfView);
    case ROLL_TRACK_TAG: return readLightingTrack(in, 1, node.roll);
    case COL_TRACK_TAG: return readLightingTrack(in, 3, node.colour);
    case HOT_TRACK_TAG: return readLightingTrack(in, 1, node.hotspot);
    case FALL_TRACK_TAG: return readLightingTrack(in, 1, node.falloff);
    case HIDE_TRACK_TAG: return readHideTrack(in, node);
    default: return Outcome::SkipChunk;
    }
}

// The cursor's array readers, by the type of the array.
bool readValues(ChunkCursor& in, float* out, uint32_t count) { return in.readF32s(out, count); }
bool readValues(ChunkCursor& in, uint16_t* out, uint32_t count) { return in.readU16s(out, count); }
bool readValues(ChunkCursor& in, uint32_t* out, uint32_t count) { return in.readU32s(out, count); }

static_assert(sizeof(MeshFace) == 4 * sizeof(uint16_t) && offsetof(MeshFace, a) == 0 &&
                  offsetof(MeshFace, b) == 2 && offsetof(MeshFace, c) == 4 && offsetof(MeshFace, flags) == 6,
              "a face is four 16-bit values, a, b, c and flags, as in the file");
bool readValues(ChunkCursor& in, MeshFace* out, uint32_t count) {
    return in.readU16s(reinterpret_cast<uint16_t*>(out), count * 4);
}

template <class T>
bool ChunkWalk::allocateArray(T*& out, size_t count) {
    out = nullptr;
    if (count == 0) return true;
    out = static_cast<T*>(lists.allocate(sizeof(T) * count));
    return out != nullptr;
}

template <class T>
Outcome ChunkWalk::readArray(ChunkCursor& in, uint32_t count, T*& out) {
    out = nullptr;
    // A count the chunk cannot hold must not size an allocation.
    if (int64_t(count) * int64_t(sizeof(T)) > in.remaining()) return Outcome::Damaged;
    T* values;
    if (!allocateArray(values, count)) return Outcome::OutOfMemory;
    if (!readValues(in, values, count)) {
        std::free(values);
        return failureOf(in);
    }
    out = values;
    return Outcome::GoOn;
}

// 0x4110 POINT_ARRAY: u16 n, then n vertices of three floats.
Outcome ChunkWalk::readPoints(ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    float* vertices;
    const Outcome read = readArray(in, uint32_t(n) * 3, vertices);
    if (read != Outcome::GoOn) return read;
    // Kept as read: the faces around such a vertex still count for the
    // material groups and smoothing masks; the mesh builder leaves them out.
    if (!allFinite(vertices, size_t(n) * 3)) localDamage = true;
    replace(mesh.vertices, vertices);
    mesh.vertexCount = n;
    return Outcome::GoOn;
}

// 0x4111 POINT_FLAG_ARRAY: u16 n, then n u16 flags. Some writers put more flags
// in the chunk than n says; the walk goes on at the chunk's end.
Outcome ChunkWalk::readPointFlags(ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    uint16_t* flags;
    const Outcome read = readArray(in, n, flags);
    if (read != Outcome::GoOn) return read;
    replace(mesh.vertexFlags, flags);
    mesh.vertexFlagCount = n;
    return Outcome::GoOn;
}

// 0x4120 FACE_ARRAY: u16 n, then n faces of u16 a, b, c, flags; its sub-chunks follow.
Outcome ChunkWalk::readFaces(ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    MeshFace* faces;
    const Outcome read = readArray(in, n, faces);
    if (read != Outcome::GoOn) return read;
    replace(mesh.faces, faces);
    mesh.faceCount = n;
    // Smoothing masks are counted by the faces they belong to: a second face
    // array must not leave a mask array of the first one's size.
    replace(mesh.smoothingGroups, static_cast<uint32_t*>(nullptr));
    return Outcome::GoOn;
}

// 0x4130 MSH_MAT_GROUP: material name, u16 n, then n u16 face indices.
Outcome ChunkWalk::readMaterialGroup(ChunkCursor& in, MeshRecord& mesh) {
    char name[kMaterialNameSize];
    uint16_t n;
    if (!in.readName(name, kMaterialNameSize) || !in.readU16(n)) return failureOf(in);
    // The group count is 16 bits wide; a group beyond it cannot be stored. A
    // count the chunk cannot hold is still damage.
    if (mesh.materialGroupCount == 0xFFFF)
        return int64_t(n) * 2 > in.remaining() ? Outcome::Damaged : Outcome::SkipChunk;
    uint16_t* faces;
    const Outcome read = readArray(in, n, faces);
    if (read != Outcome::GoOn) return read;
    const int count = mesh.materialGroupCount + 1;
    void* groups = lists.grow(mesh.materialGroups, sizeof(MaterialGroup), count);
    if (!groups) {
        std::free(faces);
        return Outcome::OutOfMemory;
    }
    mesh.materialGroups = static_cast<MaterialGroup*>(groups);
    MaterialGroup& group = mesh.materialGroups[count - 1];
    std::memcpy(group.materialName, name, sizeof name);
    group.faceCount = n;
    group.faces = faces;
    mesh.materialGroupCount = uint16_t(count);
    return Outcome::GoOn;
}

// 0x4140 TEX_VERTS: u16 n, then n pairs of float u, v.
Outcome ChunkWalk::readTexCoords(ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    float* coords;
    const Outcome read = readArray(in, uint32_t(n) * 2, coords);
    if (read != Outcome::GoOn) return read;
    // Some writers leave garbage in unmapped coordinates.
    for (int i = 0; i < n * 2; ++i)
        if (!(coords[i] >= -1e10f && coords[i] <= 1e10f)) coords[i] = 0.0f;
    replace(mesh.texCoords, coords);
    mesh.texCoordCount = n;
    return Outcome::GoOn;
}

// 0x4150 SMOOTH_GROUP: one u32 per face; the count comes from the mesh, not the chunk.
Outcome ChunkWalk::readSmoothing(ChunkCursor& in, MeshRecord& mesh) {
    uint32_t* masks;
    const Outcome read = readArray(in, mesh.faceCount, masks);
    if (read != Outcome::GoOn) return read;
    replace(mesh.smoothingGroups, masks);
    return Outcome::GoOn;
}

// 0x4160 MESH_MATRIX: 12 floats, X axis, Y axis, Z axis, origin; a frame with
// a number that is not finite is damaged, and the mesh keeps the one it had.
Outcome ChunkWalk::readMatrix(ChunkCursor& in, MeshRecord& mesh) { return readFloats(in, mesh.matrix, 12); }

// 0x0011 COLOR_24 and 0x0012 LIN_COLOR_24: u8 red, green, blue.
Outcome ChunkWalk::readByteColour(ChunkCursor& in, MaterialRecord& material) {
    uint8_t rgb[3];
    if (!in.read(rgb, 3)) return failureOf(in);
    float* colour = targetColour(material);
    if (!colour) return Outcome::GoOn;
    // byte / 256.0, not 255: files and viewers depend on these exact values.
    for (int i = 0; i < 3; ++i) colour[i] = float(rgb[i] / 256.0);
    byteColours |= 1u << (colourTarget - 1);
    return Outcome::GoOn;
}

// 0x0010 COLOR_F and 0x0013 LIN_COLOR_F: three floats. Many exporters write
// only these; a byte colour of the same material still wins.
Outcome ChunkWalk::readFloatColour(ChunkCursor& in, MaterialRecord& material) {
    float rgb[3];
    if (!in.readF32(rgb[0]) || !in.readF32(rgb[1]) || !in.readF32(rgb[2])) return failureOf(in);
    float* colour = targetColour(material);
    if (!colour || byteColours & 1u << (colourTarget - 1)) return Outcome::GoOn;
    for (int i = 0; i < 3; ++i) colour[i] = clampUnit(rgb[i]);
    return Outcome::GoOn;
}

// 0x0030 INT_PERCENTAGE: i16 percent, stored as a fraction.
Outcome ChunkWalk::readPercentage(ChunkCursor& in, MaterialRecord& material) {
    int16_t percent;
    if (!in.readI16(percent)) return failureOf(in);
    const float fraction = float(percent / 100.0);
    switch (propertyTarget) {
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

// 0xA300 MAT_MAPNAME: the map's file name, dropped unless a map is the target.
Outcome ChunkWalk::readMapName(ChunkCursor& in, MaterialRecord& material) {
    char name[kMapNameSize];
    if (!in.readName(name, kMapNameSize)) return failureOf(in);
    if (MapRecord* map = targetMap(material)) std::memcpy(map->fileName, name, sizeof name);
    return Outcome::GoOn;
}

// 0xA351 MAT_MAP_TILING: u16 flags, decoded into the target map.
Outcome ChunkWalk::readTiling(ChunkCursor& in, MaterialRecord& material) {
    uint16_t flags;
    if (!in.readU16(flags)) return failureOf(in);
    MapRecord* map = targetMap(material);
    if (!map) return Outcome::GoOn;
    map->tilingMode = std::abs((flags & 0x01) * 3 - (flags & 0x10));
    map->ignoreAlpha = (flags & 0x100) != 0;
    map->summedArea = flags & 0x20;
    map->mirror = uint8_t(flags & 0x02);
    map->negative = uint8_t(flags & 0x08);
    return Outcome::GoOn;
}

// 0xA353 to 0xA35C: one float of the target map's parameters.
Outcome ChunkWalk::readMapFloat(ChunkCursor& in, MaterialRecord& material, float MapRecord::*field) {
    float value;
    if (!in.readF32(value)) return failureOf(in);
    if (!isFiniteValue(value)) return Outcome::Damaged;
    if (MapRecord* map = targetMap(material)) map->*field = value;
    return Outcome::GoOn;
}

// 0xB010 NODE_HDR: node name, u16 flags 1, u16 flags 2, u16 parent id. The
// parent is resolved now, against the nodes read so far.
Outcome ChunkWalk::readNodeHeader(ChunkCursor& in) {
    char name[kNodeNameSize];
    uint16_t flags1, flags2, parentId;
    const bool whole =
        in.readName(name, kNodeNameSize) && in.readU16(flags1) && in.readU16(flags2) && in.readU16(parentId);
    if (!whole) {
        if (in.failure() == ChunkCursor::Failure::FileEnded) return Outcome::Truncated;
        // A damaged header still ends its node, nameless and without parent:
        // the pivot and tracks after it must not land in the node before, and
        // nodes numbered by their place in the list must keep their numbers.
        if (!nodeOpen && !openNode(false, 0)) return Outcome::OutOfMemory;
        nodeOpen = false;
        return Outcome::Damaged;
    }
    if (!nodeOpen && !openNode(false, 0)) return Outcome::OutOfMemory;
    KeyframeList& keyframes = lists.keyframeList();
    KeyframeNode& node = keyframes.nodes[keyframes.count - 1];
    node.tag = nodeTag;
    std::memcpy(node.name, name, sizeof name);
    node.flags1 = flags1;
    node.flags2 = flags2;
    node.parentId = parentId;
    node.parentName[0] = 0;
    if (parentId != 0xFFFF) {
        for (size_t i = 0; i < keyframes.count; ++i) {
            if (keyframes.nodes[i].id == parentId) {
                fullName(keyframes.nodes[i], node.parentName);
                break;
            }
        }
    }
    nodeOpen = false;
    return Outcome::GoOn;
}

// A fixed number of floats, all stored or, when one is missing or not finite,
// none: no infinity or not-a-number reaches the scene.
Outcome ChunkWalk::readFloats(ChunkCursor& in, float* out, int count) {
    float values[12];
    for (int i = 0; i < count; ++i) in.readF32(values[i]);
    if (in.failure() != ChunkCursor::Failure::None) return failureOf(in);
    if (!allFinite(values, size_t(count))) return Outcome::Damaged;
    std::memcpy(out, values, sizeof(float) * size_t(count));
    return Outcome::GoOn;
}

// 0xB020 to 0xB022, the tracks: u16 flags, two u32, u32 key count, then per key
// u32 frame, u16 spline flags, one float per flag bit, and the key value. A
// track whose keys do not fit, or hold a number that is not finite, is damaged
// and the node keeps the track it had.
Outcome ChunkWalk::readTrack(ChunkCursor& in, int valueCount, uint32_t& keyCount, TrackKey*& keys,
                             float*& values) {
    uint16_t trackFlags;
    uint32_t unused[2], n;
    if (!in.readU16(trackFlags) || !in.readU32(unused[0]) || !in.readU32(unused[1]) || !in.readU32(n))
        return failureOf(in);
    // The smallest key has no spline values; a count the chunk cannot hold
    // must not size an allocation.
    const int64_t smallestKey = 6 + 4 * valueCount;
    if (int64_t(n) > in.remaining() / smallestKey) return Outcome::Damaged;
    TrackKey* newKeys;
    float* newValues;
    if (!allocateArray(newKeys, n)) return Outcome::OutOfMemory;
    if (!allocateArray(newValues, size_t(n) * size_t(valueCount))) {
        std::free(newKeys);
        return Outcome::OutOfMemory;
    }
    bool finite = true;
    for (uint32_t k = 0; k < n && finite; ++k) {
        TrackKey& key = newKeys[k];
        in.readU32(key.frame);
        in.readU16(key.splineFlags);
        float spline[5] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
        for (int bit = 0; bit < 5; ++bit)
            if (key.splineFlags & 1u << bit) in.readF32(spline[bit]);
        float* value = newValues + size_t(k) * size_t(valueCount);
        for (int v = 0; v < valueCount; ++v) in.readF32(value[v]);
        if (in.failure() != ChunkCursor::Failure::None) break;
        finite = allFinite(spline, 5) && allFinite(value, size_t(valueCount));
        key.tension = spline[0];
        key.continuity = spline[1];
        key.bias = spline[2];
        key.easeTo = spline[3];
        key.easeFrom = spline[4];
    }
    if (in.failure() != ChunkCursor::Failure::None || !finite) {
        std::free(newKeys);
        std::free(newValues);
        // Spline values made the keys longer than the chunk, or a key is not finite.
        return in.failure() == ChunkCursor::Failure::FileEnded ? Outcome::Truncated : Outcome::Damaged;
    }
    replace(keys, newKeys);
    replace(values, newValues);
    keyCount = n;
    return Outcome::GoOn;
}

// Damage to a camera's or light's chunks costs only them: it is noted apart
// from the walk's end, so a conversion without them reads as before.
Outcome ChunkWalk::lightingDamage() {
    lists.lightingList().damaged = 1;
    return Outcome::SkipChunk;
}

Outcome ChunkWalk::readLightingTrack(ChunkCursor& in, int valueCount, Track& track) {
    const Outcome outcome = readTrack(in, valueCount, track.keyCount, track.keys, track.values);
    return outcome == Outcome::Damaged ? lightingDamage() : outcome;
}

// The sub-chunks of a light, camera or scene colour, walked inside the chunk so
// that damage to their framing ends only this chunk's list; the walk goes on
// at the chunk's end. handler(id, cursor over the sub-chunk's payload).
template <class Handler>
void ChunkWalk::readSubChunks(ChunkCursor& in, Handler handler) {
    const int64_t end = in.offset() + in.remaining();
    int64_t position = in.offset();
    while (end - position >= kChunkHeaderSize) {
        if (std::fseek(file, long(position), SEEK_SET) != 0) return;
        ChunkCursor header(file, position, end);
        uint16_t id;
        uint32_t length;
        header.readU16(id);
        header.readU32(length);
        if (header.failure() != ChunkCursor::Failure::None || length < kChunkHeaderSize ||
            length > end - position) {
            lightingDamage();
            return;
        }
        ChunkCursor body(file, header.offset(), position + length);
        if (!handler(id, body)) lightingDamage();
        position += length;
    }
}

// 0x2100 AMBIENT_LIGHT and 0x1200 SOLID_BGND: a colour sub-chunk.
Outcome ChunkWalk::readSceneColour(ChunkCursor& in, float* colour, bool& present) {
    bool fromBytes = false;
    readSubChunks(in, [&](uint16_t id, ChunkCursor& body) {
        const bool read = readColourChunk(id, body, colour, fromBytes);
        if (read && (id == COLOR_24 || id == LIN_COLOR_24 || id == COLOR_F || id == LIN_COLOR_F)) present = 1;
        return read;
    });
    return Outcome::GoOn;
}

// 0x4600 N_DIRECT_LIGHT: float x, y, z, then its sub-chunks. A light whose
// position is damaged is left out.
Outcome ChunkWalk::readLight(ChunkCursor& in) {
    float position[3];
    if (readFloats(in, position, 3) != Outcome::GoOn) return lightingDamage();
    LightRecord* light = lists.appendLight(currentName);
    if (!light) return Outcome::OutOfMemory;
    std::memcpy(light->position, position, sizeof position);
    bool fromBytes = false;
    readSubChunks(in, [&](uint16_t id, ChunkCursor& body) {
        switch (id) {
        // 0x4610 DL_SPOTLIGHT: float target x, y, z, hotspot, falloff.
        case DL_SPOTLIGHT: {
            float spot[5];
            if (readFloats(body, spot, 5) != Outcome::GoOn) return false;
            std::memcpy(light->target, spot, sizeof(float) * 3);
            light->hotspot = spot[3];
            light->falloff = spot[4];
            light->spot = 1;
            return true;
        }
        case DL_OFF: light->off = 1; return true;
        case DL_MULTIPLIER: return readFloats(body, &light->multiplier, 1) == Outcome::GoOn;
        default: return readColourChunk(id, body, light->colour, fromBytes);
        }
    });
    return Outcome::GoOn;
}

// 0x4700 N_CAMERA: float position x, y, z, target x, y, z, bank, lens; then
// 0x4720 CAM_RANGES, float near and far. A camera whose fields are damaged is
// left out.
Outcome ChunkWalk::readCamera(ChunkCursor& in) {
    float fields[8];
    if (readFloats(in, fields, 8) != Outcome::GoOn) return lightingDamage();
    CameraRecord* camera = lists.appendCamera(currentName);
    if (!camera) return Outcome::OutOfMemory;
    std::memcpy(camera->position, fields, sizeof(float) * 3);
    std::memcpy(camera->target, fields + 3, sizeof(float) * 3);
    camera->bank = fields[6];
    camera->lens = fields[7];
    readSubChunks(in, [&](uint16_t id, ChunkCursor& body) {
        if (id != CAM_RANGES) return true;
        float ranges[2];
        if (readFloats(body, ranges, 2) != Outcome::GoOn) return false;
        camera->nearRange = ranges[0];
        camera->farRange = ranges[1];
        camera->hasRanges = 1;
        return true;
    });
    return Outcome::GoOn;
}

// 0xB029 HIDE_TRACK_TAG: the track header as above, then per key u32 frame,
// u16 spline flags and one float per flag bit, with no value: only the frames
// are kept. Conversions without the animation never looked at this track, so
// keys that do not fit skip it without a warning and the node keeps the one
// it had.
Outcome ChunkWalk::readHideTrack(ChunkCursor& in, KeyframeNode& node) {
    uint16_t trackFlags;
    uint32_t unused[2], n = 0;
    in.readU16(trackFlags) && in.readU32(unused[0]) && in.readU32(unused[1]) && in.readU32(n);
    uint32_t* frames = nullptr;
    const bool fits = in.failure() == ChunkCursor::Failure::None && int64_t(n) <= in.remaining() / 6;
    if (fits) {
        if (!allocateArray(frames, n)) return Outcome::OutOfMemory;
        for (uint32_t k = 0; k < n && in.failure() == ChunkCursor::Failure::None; ++k) {
            uint16_t splineFlags = 0;
            float spline;
            in.readU32(frames[k]);
            in.readU16(splineFlags);
            for (int bit = 0; bit < 5; ++bit)
                if (splineFlags & 1u << bit) in.readF32(spline);
        }
    }
    if (!fits || in.failure() != ChunkCursor::Failure::None) {
        std::free(frames);
        return in.failure() == ChunkCursor::Failure::FileEnded ? Outcome::Truncated : Outcome::SkipChunk;
    }
    replace(node.hideFrames, frames);
    node.hideKeyCount = n;
    return Outcome::GoOn;
}

}  // namespace

bool isKnownChunkId(uint16_t id) { return ruleOf(id).kind != Kind::Skipped; }

bool walkChunks(FILE* file, int64_t fileSize, ModelLists& lists, WalkEnd& end) {
    ChunkWalk walk(file, fileSize, lists);
    // Damage to the framing says more than damage inside chunks before it.
    switch (walk.run()) {
    case Outcome::OutOfMemory: return false;
    case Outcome::Truncated: end = WalkEnd::Truncated; break;
    case Outcome::BadChunkLength: end = WalkEnd::BadChunkLength; break;
    default: end = walk.metLocalDamage() ? WalkEnd::DamagedChunksSkipped : WalkEnd::Complete; break;
    }
    return true;
}

}  // namespace kestrav
