#include "reader/WalkState.h"

#include <algorithm>
#include <cstring>

#include "reader/FiniteValues.h"

namespace kestrav {

const ChunkRule* ChunkRules::find(uint16_t id) const {
    const ChunkRule* end = rules + count;
    const ChunkRule* rule =
        std::lower_bound(rules, end, id, [](const ChunkRule& r, uint16_t key) { return r.id < key; });
    return rule != end && rule->id == id ? rule : nullptr;
}

namespace {
template <class T>
T* last(T* records, size_t count) {
    return count ? &records[count - 1] : nullptr;
}
}  // namespace

MeshRecord* WalkState::currentMesh() { return last(lists.meshList().records, lists.meshList().count); }

MaterialRecord* WalkState::currentMaterial() {
    return last(lists.materialList().records, lists.materialList().count);
}

KeyframeNode* WalkState::currentNode() { return last(lists.keyframeList().nodes, lists.keyframeList().count); }

LightRecord* WalkState::currentLight() { return last(lists.lightingList().lights, lists.lightingList().lightCount); }

CameraRecord* WalkState::currentCamera() {
    return last(lists.lightingList().cameras, lists.lightingList().cameraCount);
}

Outcome WalkState::lightingDamage() {
    lists.lightingList().damaged = true;
    return Outcome::SkipChunk;
}

Outcome readFloats(ChunkCursor& in, float* out, int count) {
    float values[12];
    for (int i = 0; i < count; ++i) in.readF32(values[i]);
    if (in.failure() != ChunkCursor::Failure::None) return failureOf(in);
    if (!allFinite(values, size_t(count))) return Outcome::Damaged;
    std::memcpy(out, values, sizeof(float) * size_t(count));
    return Outcome::GoOn;
}

}  // namespace kestrav
