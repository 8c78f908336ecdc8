#pragma once

// The in-memory form of one 3DS file. Plain records with fixed-size,
// zero-terminated names and arrays they own (malloc'ed); the counts of a
// record keep the width they have in the file, the counts of a list are sizes.

#include <cstddef>
#include <cstdint>

namespace kestrav {

struct MeshFace {
    uint16_t a, b, c;
    uint16_t flags;
};

struct MaterialGroup {
    char materialName[17];
    uint16_t faceCount;
    uint16_t* faces;  // faceCount indices into the mesh's faces
};

struct MeshRecord {
    char name[20];
    uint16_t vertexCount;
    float* vertices;  // vertexCount * 3
    uint16_t vertexFlagCount;
    uint16_t* vertexFlags;
    uint16_t texCoordCount;
    float* texCoords;  // texCoordCount * 2
    float matrix[12];  // X axis, Y axis, Z axis, origin
    uint16_t faceCount;
    MeshFace* faces;
    uint32_t* smoothingGroups;  // faceCount masks, or null when the file has none
    uint16_t materialGroupCount;
    MaterialGroup* materialGroups;
};

struct MeshList {
    char (*names)[20];
    size_t count;
    MeshRecord* records;
};

struct MapRecord {
    // Exporters since DOS store long names too; 255 bytes hold any file name
    // a file system allows. A longer name is cut.
    char fileName[256];
    float percentage;
    int32_t tilingMode;
    bool ignoreAlpha;
    int32_t summedArea;
    float blur;
    uint8_t mirror;
    uint8_t negative;
    float uScale;
    float vScale;
    float uOffset;
    float vOffset;
    float rotation;
    int32_t blendMode;  // nonzero: modulate, 0: decal
};

struct MaterialRecord {
    char name[20];
    float ambient[3];
    float diffuse[3];
    float specular[3];
    float shininess;
    float shininessStrength;
    float reflectionBlur;
    float transparency;
    float transparencyFalloff;
    float selfIllumination;
    float wireSize;
    int32_t shading;
    bool useReflectionBlur;
    bool useFalloff;
    bool twoSided;
    bool selfIlluminated;
    bool additive;
    bool wire;
    bool wireAbsolute;
    bool faceMap;
    bool softPhong;
    bool decal;
    MapRecord textureMap;
    MapRecord bumpMap;
};

struct MaterialList {
    char (*names)[20];
    size_t count;
    MaterialRecord* records;
};

// The spline values are the file's floats, -1 to 1 for tension, continuity
// and bias and 0 to 1 for the eases when the writer kept to its ranges; 0 for
// a value the key's spline flags leave out.
struct TrackKey {
    uint32_t frame;
    uint16_t splineFlags;
    float tension;
    float continuity;
    float bias;
    float easeTo;
    float easeFrom;
};

// A keyframer track of any value width: keyCount keys, values per key after each other.
struct Track {
    uint32_t keyCount;
    TrackKey* keys;
    float* values;
};

struct KeyframeNode {
    uint16_t id;
    uint16_t tag;  // the chunk that holds the node: OBJECT_NODE_TAG, CAMERA_NODE_TAG, ...
    char name[11];
    char parentName[23];  // the parent's full name: name, '.', instance name
    uint16_t parentId;
    uint16_t flags1;
    uint16_t flags2;
    float pivot[3];
    char instanceName[11];
    float boundingBox[6];
    uint32_t positionKeyCount;
    TrackKey* positionKeys;
    float* positionValues;  // 3 per key
    uint32_t rotationKeyCount;
    TrackKey* rotationKeys;
    float* rotationValues;  // 4 per key: angle, axis x, y, z
    uint32_t scaleKeyCount;
    TrackKey* scaleKeys;
    float* scaleValues;  // 3 per key
    // Cameras' and lights' tracks; colour keys hold three floats, the others one.
    Track fieldOfView;  // degrees
    Track roll;         // degrees
    Track colour;
    Track hotspot;  // degrees, full cone
    Track falloff;  // degrees, full cone
    // Each hide key toggles the node's visibility from its frame on; the node
    // starts visible.
    uint32_t hideKeyCount;
    uint32_t* hideFrames;
};

struct KeyframeList {
    size_t count;
    KeyframeNode* nodes;
    // The animation's active segment and the frame the file was saved at, as
    // the file gives them; all 0 when it has none.
    uint32_t segmentStart;
    uint32_t segmentEnd;
    uint32_t currentTime;
    // Set once the file gave a segment (0xB008).
    bool segmentGiven;
};

struct LightRecord {
    char name[20];
    float position[3];
    float colour[3];
    float multiplier;
    bool off;
    bool spot;
    float target[3];  // the rest only for a spotlight
    float hotspot;    // degrees, full cone
    float falloff;    // degrees, full cone
};

struct CameraRecord {
    char name[20];
    float position[3];
    float target[3];
    float bank;  // degrees
    float lens;  // millimetres, for a frame 36 mm wide
    bool hasRanges;
    float nearRange;
    float farRange;
};

// Cameras and lights in file order, and the scene's ambient and background colours.
struct LightingList {
    size_t lightCount;
    LightRecord* lights;
    size_t cameraCount;
    CameraRecord* cameras;
    bool hasAmbient;
    float ambient[3];
    bool hasBackground;
    bool useBackground;
    float background[3];
    // A damaged light, camera or track of theirs was left out; the walk's end
    // does not say so, since the meshes do not depend on them.
    bool damaged;
};

}  // namespace kestrav
