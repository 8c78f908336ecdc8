#include "reader/ChunkWalk.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "reader/ChunkCursor.h"
#include "reader/ChunkId.h"
#include "reader/ModelLists.h"

namespace kestrav {

namespace {

constexpr int64_t kChunkHeaderSize = 6;
constexpr int64_t kLargestOffset = 0x7FFFFFFF;

constexpr int kObjectNameSize = 20;
constexpr int kMaterialNameSize = 17;
constexpr int kMapNameSize = int(sizeof(MapRecord::fileName));
constexpr int kNodeNameSize = 11;

enum class Kind {
    Skipped,    // payload and sub-chunks passed over by the chunk's length
    Container,  // nothing read: the next header is its first sub-chunk
    Descended,  // a payload is read, then its sub-chunks follow
    Leaf,       // a payload is read, then the walk goes on at the chunk's end
};

// Damaged: the chunk is too short for its fields or its count, or holds a
// number that is not finite where one must be. It is skipped whole, and the
// record keeps what it had before it.
enum class Outcome { GoOn, SkipChunk, Damaged, Truncated, BadChunkLength, OutOfMemory };

Kind kindOf(uint16_t id) {
    switch (id) {
    case M3DMAGIC:
    case MDATA:
    case MAT_ENTRY:
    case KFDATA:
    case AMBIENT_NODE_TAG:
    case OBJECT_NODE_TAG:
    case CAMERA_NODE_TAG:
    case TARGET_NODE_TAG:
    case LIGHT_NODE_TAG:
    case L_TARGET_NODE_TAG:
    case SPOTLIGHT_NODE_TAG:
        return Kind::Container;
    case NAMED_OBJECT:
    case N_TRI_OBJECT:
    case FACE_ARRAY:
    case MAT_AMBIENT:
    case MAT_DIFFUSE:
    case MAT_SPECULAR:
    case MAT_SHININESS:
    case MAT_SHIN2PCT:
    case MAT_TRANSPARENCY:
    case MAT_XPFALL:
    case MAT_REFBLUR:
    case MAT_SELF_ILPCT:
    case MAT_TEXMAP:
    case MAT_BUMPMAP:
        return Kind::Descended;
    case POINT_ARRAY:
    case POINT_FLAG_ARRAY:
    case MSH_MAT_GROUP:
    case TEX_VERTS:
    case SMOOTH_GROUP:
    case MESH_MATRIX:
    case MAT_NAME:
    case COLOR_F:
    case COLOR_24:
    case LIN_COLOR_24:
    case LIN_COLOR_F:
    case INT_PERCENTAGE:
    case MAT_SELF_ILLUM:
    case MAT_TWO_SIDE:
    case MAT_DECAL:
    case MAT_ADDITIVE:
    case MAT_WIRE:
    case MAT_WIRESIZE:
    case MAT_FACEMAP:
    case MAT_PHONGSOFT:
    case MAT_WIREABS:
    case MAT_SHADING:
    case MAT_USE_XPFALL:
    case MAT_USE_REFBLUR:
    case MAT_MAPNAME:
    case MAT_MAP_TILING:
    case MAT_MAP_TEXBLUR:
    case MAT_MAP_USCALE:
    case MAT_MAP_VSCALE:
    case MAT_MAP_UOFFSET:
    case MAT_MAP_VOFFSET:
    case MAT_MAP_ANG:
    case KFSEG:
    case KFCURTIME:
    case NODE_ID:
    case NODE_HDR:
    case INSTANCE_NAME:
    case PIVOT:
    case BOUNDBOX:
    case POS_TRACK_TAG:
    case ROT_TRACK_TAG:
    case SCL_TRACK_TAG:
    case HIDE_TRACK_TAG:
        return Kind::Leaf;
    default:
        return Kind::Skipped;
    }
}

Outcome failureOf(const ChunkCursor& in) {
    return in.failure() == ChunkCursor::Failure::FileEnded ? Outcome::Truncated : Outcome::Damaged;
}

bool allFinite(const float* values, size_t count) {
    for (size_t i = 0; i < count; ++i)
        if (!std::isfinite(values[i])) return false;
    return true;
}

// Allocates count elements of T, or null for a count of 0.
template <class T>
bool allocate(T*& out, size_t count) {
    out = nullptr;
    if (count == 0) return true;
    out = static_cast<T*>(modelMalloc(sizeof(T) * count));
    return out != nullptr;
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

class ChunkWalk {
public:
    ChunkWalk(FILE* input, int64_t size) : file(input), fileSize(size) {}
    Outcome run();
    // True once a damaged chunk was skipped or a vertex is not finite.
    bool metLocalDamage() const { return localDamage; }

private:
    Outcome handle(uint16_t id, ChunkCursor& in);
    Outcome skipTo(int64_t end);

    MeshRecord* currentMesh() const;
    MaterialRecord* currentMaterial() const;
    KeyframeNode* currentNode() const;
    float* targetColour() const;
    MapRecord* targetMap() const;

    Outcome readPoints(ChunkCursor& in, MeshRecord& mesh);
    Outcome readPointFlags(ChunkCursor& in, MeshRecord& mesh);
    Outcome readFaces(ChunkCursor& in, MeshRecord& mesh);
    Outcome readMaterialGroup(ChunkCursor& in, MeshRecord& mesh);
    Outcome readTexCoords(ChunkCursor& in, MeshRecord& mesh);
    Outcome readSmoothing(ChunkCursor& in, MeshRecord& mesh);
    Outcome readMatrix(ChunkCursor& in, MeshRecord& mesh);
    Outcome readByteColour(ChunkCursor& in);
    Outcome readFloatColour(ChunkCursor& in);
    Outcome readPercentage(ChunkCursor& in, MaterialRecord& material);
    Outcome readMapName(ChunkCursor& in);
    Outcome readTiling(ChunkCursor& in);
    Outcome readMapFloat(ChunkCursor& in, float MapRecord::*field);
    Outcome readNodeHeader(ChunkCursor& in);
    Outcome readFloats(ChunkCursor& in, float* out, int count);
    Outcome readTrack(ChunkCursor& in, int valueCount, uint32_t& keyCount, TrackKey*& keys, float*& values);
    Outcome readHideTrack(ChunkCursor& in, KeyframeNode& node);

    FILE* file;
    int64_t fileSize;
    int64_t furthestEnd = 0;
    bool localDamage = false;
    char currentName[kObjectNameSize] = {};
    // Bit k is set once a byte colour has set colour target k + 1 of the
    // current material; a float colour then leaves that colour alone.
    unsigned byteColours = 0;
};

MeshRecord* ChunkWalk::currentMesh() const {
    MeshList* meshes = currentMeshList();
    return meshes->count ? &meshes->records[meshes->count - 1] : nullptr;
}

MaterialRecord* ChunkWalk::currentMaterial() const {
    MaterialList* materials = currentMaterialList();
    return materials->count ? &materials->records[materials->count - 1] : nullptr;
}

KeyframeNode* ChunkWalk::currentNode() const {
    KeyframeList* keyframes = currentKeyframeList();
    return keyframes->count ? &keyframes->nodes[keyframes->count - 1] : nullptr;
}

float* ChunkWalk::targetColour() const {
    MaterialRecord* material = currentMaterial();
    switch (currentMaterialList()->colourTarget) {
    case kAmbient: return material->ambient;
    case kDiffuse: return material->diffuse;
    case kSpecular: return material->specular;
    default: return nullptr;
    }
}

MapRecord* ChunkWalk::targetMap() const {
    MaterialRecord* material = currentMaterial();
    switch (currentMaterialList()->propertyTarget) {
    case kTextureMap: return &material->textureMap;
    case kBumpMap: return &material->bumpMap;
    default: return nullptr;
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
        const Kind kind = kindOf(id);

        if (kind == Kind::Container) {
            if (end > furthestEnd) furthestEnd = end;
            position = header.offset();
            continue;
        }
        Outcome outcome = Outcome::SkipChunk;
        if (kind != Kind::Skipped) {
            if (kind == Kind::Leaf && end > fileSize) return Outcome::Truncated;
            ChunkCursor in(file, header.offset(), end);
            outcome = handle(id, in);
            position = in.offset();
        }
        if (outcome == Outcome::GoOn && kind == Kind::Descended) {
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

Outcome ChunkWalk::handle(uint16_t id, ChunkCursor& in) {
    MaterialList* materials = currentMaterialList();
    MeshRecord* mesh = currentMesh();
    MaterialRecord* material = currentMaterial();
    KeyframeNode* node = currentNode();
    // Sub-chunks with no record to write into are skipped whole. The chunks
    // that only set a target or open a record need none.
    const bool meshChunk = id >= POINT_ARRAY && id <= MESH_MATRIX;
    const bool materialChunk = kindOf(id) == Kind::Leaf && (id <= INT_PERCENTAGE || (id > MAT_NAME && id <= MAT_MAP_ANG));
    const bool nodeChunk = (id > NODE_HDR && id <= SCL_TRACK_TAG) || id == HIDE_TRACK_TAG;
    if ((meshChunk && !mesh) || (materialChunk && !material) || (nodeChunk && !node)) return Outcome::SkipChunk;

    switch (id) {
    // 0x4000 NAMED_OBJECT: object name; a light's or camera's name passes through too.
    case NAMED_OBJECT:
        return in.readName(currentName, kObjectNameSize) ? Outcome::GoOn : failureOf(in);
    // 0x4100 N_TRI_OBJECT: no payload; a new mesh named after the last 0x4000.
    case N_TRI_OBJECT:
        return appendMesh(currentName) ? Outcome::GoOn : Outcome::OutOfMemory;
    case POINT_ARRAY: return readPoints(in, *mesh);
    case POINT_FLAG_ARRAY: return readPointFlags(in, *mesh);
    case FACE_ARRAY: return readFaces(in, *mesh);
    case MSH_MAT_GROUP: return readMaterialGroup(in, *mesh);
    case TEX_VERTS: return readTexCoords(in, *mesh);
    case SMOOTH_GROUP: return readSmoothing(in, *mesh);
    case MESH_MATRIX: return readMatrix(in, *mesh);

    // 0xA000 MAT_NAME: material name; a new material with the values at creation.
    case MAT_NAME: {
        char name[kMaterialNameSize];
        if (!in.readName(name, kMaterialNameSize)) return failureOf(in);
        byteColours = 0;
        return appendMaterial(name) ? Outcome::GoOn : Outcome::OutOfMemory;
    }
    // The colour, percentage and map chunks only say what their sub-chunks set;
    // the target outlives the material.
    case MAT_AMBIENT: materials->colourTarget = kAmbient; return Outcome::GoOn;
    case MAT_DIFFUSE: materials->colourTarget = kDiffuse; return Outcome::GoOn;
    case MAT_SPECULAR: materials->colourTarget = kSpecular; return Outcome::GoOn;
    case MAT_SHININESS: materials->propertyTarget = kShininess; return Outcome::GoOn;
    case MAT_SHIN2PCT: materials->propertyTarget = kShininessStrength; return Outcome::GoOn;
    case MAT_TRANSPARENCY: materials->propertyTarget = kTransparency; return Outcome::GoOn;
    case MAT_XPFALL: materials->propertyTarget = kTransparencyFalloff; return Outcome::GoOn;
    case MAT_REFBLUR: materials->propertyTarget = kReflectionBlur; return Outcome::GoOn;
    case MAT_SELF_ILPCT: materials->propertyTarget = kSelfIllumination; return Outcome::GoOn;
    case MAT_TEXMAP: materials->propertyTarget = kTextureMap; return Outcome::GoOn;
    case MAT_BUMPMAP: materials->propertyTarget = kBumpMap; return Outcome::GoOn;

    case COLOR_24:
    case LIN_COLOR_24: return readByteColour(in);
    case COLOR_F:
    case LIN_COLOR_F: return readFloatColour(in);
    case INT_PERCENTAGE: return readPercentage(in, *material);

    // Flag chunks without payload.
    case MAT_SELF_ILLUM: material->selfIlluminated = 1; return Outcome::GoOn;
    case MAT_TWO_SIDE: material->twoSided = 1; return Outcome::GoOn;
    case MAT_DECAL: material->decal = 1; return Outcome::GoOn;
    case MAT_ADDITIVE: material->additive = 1; return Outcome::GoOn;
    case MAT_WIRE: material->wire = 1; return Outcome::GoOn;
    case MAT_FACEMAP: material->faceMap = 1; return Outcome::GoOn;
    case MAT_PHONGSOFT: material->softPhong = 1; return Outcome::GoOn;
    case MAT_WIREABS: material->wireAbsolute = 1; return Outcome::GoOn;
    case MAT_USE_XPFALL: material->useFalloff = 1; return Outcome::GoOn;
    case MAT_USE_REFBLUR: material->useReflectionBlur = 1; return Outcome::GoOn;

    // 0xA087 MAT_WIRESIZE: float.
    case MAT_WIRESIZE: return readFloats(in, &material->wireSize, 1);
    // 0xA100 MAT_SHADING: u16 into the low half of the shading field.
    case MAT_SHADING: {
        uint16_t shading;
        if (!in.readU16(shading)) return failureOf(in);
        material->shading = int32_t((uint32_t(material->shading) & 0xFFFF0000u) | shading);
        return Outcome::GoOn;
    }
    case MAT_MAPNAME: return readMapName(in);
    case MAT_MAP_TILING: return readTiling(in);
    case MAT_MAP_TEXBLUR: return readMapFloat(in, &MapRecord::blur);
    case MAT_MAP_USCALE: return readMapFloat(in, &MapRecord::uScale);
    case MAT_MAP_VSCALE: return readMapFloat(in, &MapRecord::vScale);
    case MAT_MAP_UOFFSET: return readMapFloat(in, &MapRecord::uOffset);
    case MAT_MAP_VOFFSET: return readMapFloat(in, &MapRecord::vOffset);
    case MAT_MAP_ANG: return readMapFloat(in, &MapRecord::rotation);

    // 0xB008 KFSEG: u32 first and u32 last frame of the active segment.
    case KFSEG: {
        uint32_t start, end;
        if (!in.readU32(start) || !in.readU32(end)) return failureOf(in);
        KeyframeList* keyframes = currentKeyframeList();
        keyframes->segmentStart = start;
        keyframes->segmentEnd = end;
        keyframes->segmentGiven = 1;
        return Outcome::GoOn;
    }
    // 0xB009 KFCURTIME: u32, the time the file was saved at.
    case KFCURTIME:
        return in.readU32(currentKeyframeList()->currentTime) ? Outcome::GoOn : failureOf(in);
    // 0xB030 NODE_ID: u16 id; opens a new node.
    case NODE_ID: {
        uint16_t nodeId;
        if (!in.readU16(nodeId)) return failureOf(in);
        return appendNode(true, nodeId) ? Outcome::GoOn : Outcome::OutOfMemory;
    }
    case NODE_HDR: return readNodeHeader(in);
    // 0xB011 INSTANCE_NAME: instance name of the current node.
    case INSTANCE_NAME:
        return in.readName(node->instanceName, kNodeNameSize) ? Outcome::GoOn : failureOf(in);
    case PIVOT: return readFloats(in, node->pivot, 3);
    case BOUNDBOX: return readFloats(in, node->boundingBox, 6);
    case POS_TRACK_TAG:
        return readTrack(in, 3, node->positionKeyCount, node->positionKeys, node->positionValues);
    case ROT_TRACK_TAG:
        return readTrack(in, 4, node->rotationKeyCount, node->rotationKeys, node->rotationValues);
    case SCL_TRACK_TAG:
        return readTrack(in, 3, node->scaleKeyCount, node->scaleKeys, node->scaleValues);
    case HIDE_TRACK_TAG: return readHideTrack(in, *node);
    default:
        return Outcome::SkipChunk;
    }
}

// 0x4110 POINT_ARRAY: u16 n, then n vertices of three floats.
Outcome ChunkWalk::readPoints(ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    if (int64_t(n) * 12 > in.remaining()) return Outcome::Damaged;
    float* vertices;
    if (!allocate(vertices, size_t(n) * 3)) return Outcome::OutOfMemory;
    in.readF32s(vertices, uint32_t(n) * 3);
    if (in.failure() != ChunkCursor::Failure::None) {
        std::free(vertices);
        return failureOf(in);
    }
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
    if (int64_t(n) * 2 > in.remaining()) return Outcome::Damaged;
    uint16_t* flags;
    if (!allocate(flags, n)) return Outcome::OutOfMemory;
    in.readU16s(flags, n);
    if (in.failure() != ChunkCursor::Failure::None) {
        std::free(flags);
        return failureOf(in);
    }
    replace(mesh.vertexFlags, flags);
    mesh.vertexFlagCount = n;
    return Outcome::GoOn;
}

// 0x4120 FACE_ARRAY: u16 n, then n faces of u16 a, b, c, flags; its sub-chunks follow.
Outcome ChunkWalk::readFaces(ChunkCursor& in, MeshRecord& mesh) {
    uint16_t n;
    if (!in.readU16(n)) return failureOf(in);
    if (int64_t(n) * 8 > in.remaining()) return Outcome::Damaged;
    MeshFace* faces;
    if (!allocate(faces, n)) return Outcome::OutOfMemory;
    static_assert(sizeof(MeshFace) == 8, "a face is four 16-bit values, as in the file");
    if (in.read(faces, uint32_t(n) * 8)) {
        for (int i = 0; i < n; ++i) {
            uint8_t b[8];
            std::memcpy(b, &faces[i], 8);
            faces[i].a = uint16_t(b[0] | b[1] << 8);
            faces[i].b = uint16_t(b[2] | b[3] << 8);
            faces[i].c = uint16_t(b[4] | b[5] << 8);
            faces[i].flags = uint16_t(b[6] | b[7] << 8);
        }
    }
    if (in.failure() != ChunkCursor::Failure::None) {
        std::free(faces);
        return failureOf(in);
    }
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
    if (int64_t(n) * 2 > in.remaining()) return Outcome::Damaged;
    // The group count is 16 bits wide; a group beyond it cannot be stored.
    if (mesh.materialGroupCount == 0xFFFF) return Outcome::SkipChunk;
    uint16_t* faces;
    if (!allocate(faces, n)) return Outcome::OutOfMemory;
    in.readU16s(faces, n);
    if (in.failure() != ChunkCursor::Failure::None) {
        std::free(faces);
        return failureOf(in);
    }
    const int count = mesh.materialGroupCount + 1;
    void* groups = modelGrow(mesh.materialGroups, sizeof(MaterialGroup), count);
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
    if (int64_t(n) * 8 > in.remaining()) return Outcome::Damaged;
    float* coords;
    if (!allocate(coords, size_t(n) * 2)) return Outcome::OutOfMemory;
    if (in.readF32s(coords, uint32_t(n) * 2)) {
        // Some writers leave garbage in unmapped coordinates.
        for (int i = 0; i < n * 2; ++i)
            if (!(coords[i] >= -1e10f && coords[i] <= 1e10f)) coords[i] = 0.0f;
    }
    if (in.failure() != ChunkCursor::Failure::None) {
        std::free(coords);
        return failureOf(in);
    }
    replace(mesh.texCoords, coords);
    mesh.texCoordCount = n;
    return Outcome::GoOn;
}

// 0x4150 SMOOTH_GROUP: one u32 per face; the count comes from the mesh, not the chunk.
Outcome ChunkWalk::readSmoothing(ChunkCursor& in, MeshRecord& mesh) {
    const int n = mesh.faceCount;
    if (int64_t(n) * 4 > in.remaining()) return Outcome::Damaged;
    uint32_t* masks;
    if (!allocate(masks, size_t(n))) return Outcome::OutOfMemory;
    in.readU32s(masks, uint32_t(n));
    if (in.failure() != ChunkCursor::Failure::None) {
        std::free(masks);
        return failureOf(in);
    }
    replace(mesh.smoothingGroups, masks);
    return Outcome::GoOn;
}

// 0x4160 MESH_MATRIX: 12 floats, X axis, Y axis, Z axis, origin; a frame with
// a number that is not finite is damaged, and the mesh keeps the one it had.
Outcome ChunkWalk::readMatrix(ChunkCursor& in, MeshRecord& mesh) { return readFloats(in, mesh.matrix, 12); }

// 0x0011 COLOR_24 and 0x0012 LIN_COLOR_24: u8 red, green, blue.
Outcome ChunkWalk::readByteColour(ChunkCursor& in) {
    uint8_t rgb[3];
    if (!in.read(rgb, 3)) return failureOf(in);
    float* colour = targetColour();
    if (!colour) return Outcome::GoOn;
    // byte / 256.0, not 255: files and viewers depend on these exact values.
    for (int i = 0; i < 3; ++i) colour[i] = float(rgb[i] / 256.0);
    byteColours |= 1u << (currentMaterialList()->colourTarget - 1);
    return Outcome::GoOn;
}

// 0x0010 COLOR_F and 0x0013 LIN_COLOR_F: three floats. Many exporters write
// only these; a byte colour of the same material still wins.
Outcome ChunkWalk::readFloatColour(ChunkCursor& in) {
    float rgb[3];
    if (!in.readF32(rgb[0]) || !in.readF32(rgb[1]) || !in.readF32(rgb[2])) return failureOf(in);
    float* colour = targetColour();
    if (!colour || byteColours & 1u << (currentMaterialList()->colourTarget - 1)) return Outcome::GoOn;
    for (int i = 0; i < 3; ++i) colour[i] = clampUnit(rgb[i]);
    return Outcome::GoOn;
}

// 0x0030 INT_PERCENTAGE: i16 percent, stored as a fraction.
Outcome ChunkWalk::readPercentage(ChunkCursor& in, MaterialRecord& material) {
    int16_t percent;
    if (!in.readI16(percent)) return failureOf(in);
    const float fraction = float(percent / 100.0);
    switch (currentMaterialList()->propertyTarget) {
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
Outcome ChunkWalk::readMapName(ChunkCursor& in) {
    char name[kMapNameSize];
    if (!in.readName(name, kMapNameSize)) return failureOf(in);
    if (MapRecord* map = targetMap()) std::memcpy(map->fileName, name, sizeof name);
    return Outcome::GoOn;
}

// 0xA351 MAT_MAP_TILING: u16 flags, decoded into the target map.
Outcome ChunkWalk::readTiling(ChunkCursor& in) {
    uint16_t flags;
    if (!in.readU16(flags)) return failureOf(in);
    MapRecord* map = targetMap();
    if (!map) return Outcome::GoOn;
    map->tilingMode = std::abs((flags & 0x01) * 3 - (flags & 0x10));
    map->ignoreAlpha = (flags & 0x100) != 0;
    map->summedArea = flags & 0x20;
    map->mirror = uint8_t(flags & 0x02);
    map->negative = uint8_t(flags & 0x08);
    return Outcome::GoOn;
}

// 0xA353 to 0xA35C: one float of the target map's parameters.
Outcome ChunkWalk::readMapFloat(ChunkCursor& in, float MapRecord::*field) {
    float value;
    if (!in.readF32(value)) return failureOf(in);
    if (!std::isfinite(value)) return Outcome::Damaged;
    if (MapRecord* map = targetMap()) map->*field = value;
    return Outcome::GoOn;
}

// 0xB010 NODE_HDR: node name, u16 flags 1, u16 flags 2, u16 parent id. The
// parent is resolved now, against the nodes read so far.
Outcome ChunkWalk::readNodeHeader(ChunkCursor& in) {
    char name[kNodeNameSize];
    uint16_t flags1, flags2, parentId;
    const bool whole =
        in.readName(name, kNodeNameSize) && in.readU16(flags1) && in.readU16(flags2) && in.readU16(parentId);
    KeyframeList* keyframes = currentKeyframeList();
    if (!whole) {
        if (in.failure() == ChunkCursor::Failure::FileEnded) return Outcome::Truncated;
        // A damaged header still ends its node, nameless and without parent:
        // the pivot and tracks after it must not land in the node before, and
        // nodes numbered by their place in the list must keep their numbers.
        if (!keyframes->nodeOpen && !appendNode(false, 0)) return Outcome::OutOfMemory;
        keyframes->nodeOpen = 0;
        return Outcome::Damaged;
    }
    if (!keyframes->nodeOpen && !appendNode(false, 0)) return Outcome::OutOfMemory;
    KeyframeNode& node = keyframes->nodes[keyframes->count - 1];
    std::memcpy(node.name, name, sizeof name);
    node.flags1 = flags1;
    node.flags2 = flags2;
    node.parentId = parentId;
    node.parentName[0] = 0;
    if (parentId != 0xFFFF) {
        for (int i = 0; i < keyframes->count; ++i) {
            if (keyframes->nodes[i].id == parentId) {
                fullName(keyframes->nodes[i], node.parentName);
                break;
            }
        }
    }
    keyframes->nodeOpen = 0;
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
    if (!allocate(newKeys, n)) return Outcome::OutOfMemory;
    if (!allocate(newValues, size_t(n) * size_t(valueCount))) {
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
        key.tension = spline[0] * 25.0f + 25.0f;
        key.continuity = spline[1] * 25.0f + 25.0f;
        key.bias = spline[2] * 25.0f + 25.0f;
        key.easeTo = spline[3] * 50.0f;
        key.easeFrom = spline[4] * 50.0f;
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
        if (!allocate(frames, n)) return Outcome::OutOfMemory;
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

bool walkChunks(FILE* file, int64_t fileSize, WalkEnd& end) {
    ChunkWalk walk(file, fileSize);
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
