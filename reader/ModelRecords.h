#pragma once

// The in-memory form of one 3DS file. Plain records with fixed-size,
// zero-terminated names and arrays they own (malloc'ed); counts keep the
// width they have in the file.

#include <cstdint>
#include <cstdio>

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
    int32_t count;
    MeshRecord* records;
    FILE* file;
};

struct MapRecord {
    // Exporters since DOS store long names too; 255 bytes hold any file name
    // a file system allows. A longer name is cut.
    char fileName[256];
    float percentage;
    int32_t tilingMode;
    uint8_t ignoreAlpha;
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
    uint8_t useReflectionBlur;
    uint8_t useFalloff;
    uint8_t twoSided;
    uint8_t selfIlluminated;
    uint8_t additive;
    uint8_t wire;
    uint8_t wireAbsolute;
    uint8_t faceMap;
    uint8_t softPhong;
    uint8_t decal;
    MapRecord textureMap;
    MapRecord bumpMap;
};

enum ColourTarget : int32_t { kNoColour = 0, kAmbient = 1, kDiffuse = 2, kSpecular = 3 };

enum PropertyTarget : int32_t {
    kNoProperty = 0,
    kShininess = 1,
    kShininessStrength = 2,
    kTransparency = 3,
    kTransparencyFalloff = 4,
    kReflectionBlur = 5,
    kSelfIllumination = 6,
    kTextureMap = 7,
    kBumpMap = 8,
};

struct MaterialList {
    char (*names)[20];
    int32_t count;
    MaterialRecord* records;
    FILE* file;
    int32_t colourTarget;
    int32_t propertyTarget;
};

struct TrackKey {
    uint32_t frame;
    uint16_t splineFlags;
    float tension;     // file value * 25 + 25
    float continuity;  // file value * 25 + 25
    float bias;        // file value * 25 + 25
    float easeTo;      // file value * 50
    float easeFrom;    // file value * 50
};

struct KeyframeNode {
    uint16_t id;
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
    // Each hide key toggles the node's visibility from its frame on; the node
    // starts visible.
    uint32_t hideKeyCount;
    uint32_t* hideFrames;
};

struct KeyframeList {
    int32_t count;
    KeyframeNode* nodes;
    FILE* file;
    int32_t nodeOpen;
    // The animation's active segment and the frame the file was saved at, as
    // the file gives them; all 0 when it has none.
    uint32_t segmentStart;
    uint32_t segmentEnd;
    uint32_t currentTime;
    // Nonzero once the file gave a segment (0xB008).
    uint8_t segmentGiven;
};

}  // namespace kestrav
