#pragma once

// What the chunk walk shares with the decoders of its four families (mesh,
// material, keyframer, lighting): how reading a chunk went, a family's table
// of the chunks it reads, and the state that the chunks read so far leave for
// the ones after them. Adding a chunk is one entry in its family's table and
// the handler beside it.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "reader/ChunkCursor.h"
#include "reader/ModelLists.h"

namespace kestrav {

constexpr int kObjectNameSize = 20;

// Damaged: the chunk is too short for its fields or its count, or holds a
// number that is not finite where one must be. It is skipped whole, and the
// record keeps what it had before it.
enum class Outcome { GoOn, SkipChunk, Damaged, Truncated, BadChunkLength, OutOfMemory };

enum class Kind : uint8_t {
    Container,  // nothing read: the next header is its first sub-chunk
    Descended,  // a payload is read, then its sub-chunks follow
    Leaf,       // a payload is read, then the walk goes on at the chunk's end
};

class WalkState;

// Reads one chunk's payload, from the cursor over it, into the model.
using ChunkHandler = Outcome (*)(WalkState& walk, ChunkCursor& in);

struct ChunkRule {
    uint16_t id;
    Kind kind;
    ChunkHandler handle;  // null for a container with nothing to note
};

template <size_t n>
constexpr bool ascending(const ChunkRule (&rules)[n]) {
    for (size_t i = 1; i < n; ++i)
        if (rules[i - 1].id >= rules[i].id) return false;
    return true;
}

// A table of rules in ascending id order, each id once, made only by
// checkedRules, which holds the table to that order when it is compiled.
class ChunkRules {
public:
    // The rule for id, or null.
    const ChunkRule* find(uint16_t id) const;

private:
    constexpr ChunkRules(const ChunkRule* table, size_t n) : rules(table), count(n) {}
    template <const auto& table>
    friend constexpr ChunkRules checkedRules();

    const ChunkRule* rules;
    size_t count;
};

// A table (a constexpr array of ChunkRule) as ChunkRules.
template <const auto& table>
constexpr ChunkRules checkedRules() {
    static_assert(ascending(table), "rules are searched by halving: keep them in ascending id order, each once");
    return ChunkRules(table, sizeof table / sizeof table[0]);
}

// The families' tables of the chunks met in the file; an id belongs to one
// family. Any id in none of them is passed over by its length.
ChunkRules meshRules();
ChunkRules materialRules();
ChunkRules keyframerRules();
ChunkRules lightingRules();

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

// The walk is flat: a sub-chunk's meaning comes from what the chunks before it
// left here, never from its parent's id.
class WalkState {
public:
    WalkState(ModelLists& model, const uint8_t* fileBytes, int64_t fileSize)
        : lists(model), bytes(fileBytes), size(fileSize) {}

    // The last record of its list, or null while the list is empty.
    MeshRecord* currentMesh();
    MaterialRecord* currentMaterial();
    KeyframeNode* currentNode();
    LightRecord* currentLight();
    CameraRecord* currentCamera();

    // Allocates count elements of T from the model's allocator, or null for a
    // count of 0; false when memory runs out.
    template <class T>
    bool allocateArray(T*& out, size_t count);

    // Damage to a camera's or light's chunks costs only them: it is noted apart
    // from the walk's end, so a conversion without them reads as before.
    Outcome lightingDamage();

    ModelLists& lists;
    const uint8_t* const bytes;
    const int64_t size;
    // Set once a damaged chunk was skipped or a vertex is not finite.
    bool localDamage = false;

    // The name of the last 0x4000 object; the next mesh, light or camera takes it.
    char objectName[kObjectNameSize] = {};

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

    // The colour that the sub-chunks of a light or scene colour set, and
    // whether one did (may be null).
    float* lightingColour = nullptr;
    bool* lightingColourSet = nullptr;
    bool lightingColourFromBytes = false;
};

// Walks the sub-chunks of in's chunk, from where in stands to its end, with
// the rules given: damage to them or to their framing costs only the lighting
// lists, and the walk goes on at the end of in's chunk.
void walkInside(WalkState& walk, ChunkCursor& in, ChunkRules rules);

inline Outcome failureOf(const ChunkCursor& in) {
    return in.failure() == ChunkCursor::Failure::FileEnded ? Outcome::Truncated : Outcome::Damaged;
}

// A fixed number of floats (at most 12), all stored or, when one is missing
// or not finite, none: no infinity or not-a-number reaches the scene.
Outcome readFloats(ChunkCursor& in, float* out, int count);

template <class T>
void replace(T*& field, T* array) {
    std::free(field);
    field = array;
}

inline float clampUnit(float v) {
    if (!(v > 0.0f)) return 0.0f;  // also not-a-number
    return v > 1.0f ? 1.0f : v;
}

template <class T>
bool WalkState::allocateArray(T*& out, size_t count) {
    out = nullptr;
    if (count == 0) return true;
    out = static_cast<T*>(lists.allocate(sizeof(T) * count));
    return out != nullptr;
}

// Handlers of chunks that write into the current record of their list: the
// chunk is skipped whole while no such record exists, so no handler meets a
// missing record.
template <Outcome (*read)(WalkState&, ChunkCursor&, MeshRecord&)>
Outcome onMesh(WalkState& walk, ChunkCursor& in) {
    MeshRecord* mesh = walk.currentMesh();
    return mesh ? read(walk, in, *mesh) : Outcome::SkipChunk;
}

template <Outcome (*read)(WalkState&, ChunkCursor&, MaterialRecord&)>
Outcome onMaterial(WalkState& walk, ChunkCursor& in) {
    MaterialRecord* material = walk.currentMaterial();
    return material ? read(walk, in, *material) : Outcome::SkipChunk;
}

template <Outcome (*read)(WalkState&, ChunkCursor&, KeyframeNode&)>
Outcome onNode(WalkState& walk, ChunkCursor& in) {
    KeyframeNode* node = walk.currentNode();
    return node ? read(walk, in, *node) : Outcome::SkipChunk;
}

}  // namespace kestrav
