// The chunks of the keyframer: the animation's segment and the nodes that
// move meshes, cameras and lights, with their tracks.

#include <cstring>

#include "reader/ChunkId.h"
#include "reader/FiniteValues.h"
#include "reader/WalkState.h"

namespace kestrav {

namespace {

constexpr int kNodeNameSize = 11;

bool openNode(WalkState& walk, bool hasId, uint16_t id) {
    if (!walk.lists.appendNode(hasId, id)) return false;
    walk.currentNode()->tag = walk.nodeTag;
    walk.nodeOpen = true;
    return true;
}

// The node chunks say what kind of object the nodes inside them move.
template <ChunkId tag>
Outcome enterNodeTag(WalkState& walk, ChunkCursor&) {
    walk.nodeTag = tag;
    return Outcome::GoOn;
}

// 0xB008 KFSEG: u32 first and u32 last frame of the active segment.
Outcome readSegment(WalkState& walk, ChunkCursor& in) {
    uint32_t start, end;
    if (!in.readU32(start) || !in.readU32(end)) return failureOf(in);
    KeyframeList& keyframes = walk.lists.keyframeList();
    keyframes.segmentStart = start;
    keyframes.segmentEnd = end;
    keyframes.segmentGiven = true;
    return Outcome::GoOn;
}

// 0xB009 KFCURTIME: u32, the time the file was saved at.
Outcome readCurrentTime(WalkState& walk, ChunkCursor& in) {
    return in.readU32(walk.lists.keyframeList().currentTime) ? Outcome::GoOn : failureOf(in);
}

// 0xB030 NODE_ID: u16 id; opens a new node.
Outcome readNodeId(WalkState& walk, ChunkCursor& in) {
    uint16_t nodeId;
    if (!in.readU16(nodeId)) return failureOf(in);
    return openNode(walk, true, nodeId) ? Outcome::GoOn : Outcome::OutOfMemory;
}

// 0xB010 NODE_HDR: node name, u16 flags 1, u16 flags 2, u16 parent id. The
// parent is resolved now, against the nodes read so far.
Outcome readNodeHeader(WalkState& walk, ChunkCursor& in) {
    char name[kNodeNameSize];
    uint16_t flags1, flags2, parentId;
    const bool whole =
        in.readName(name, kNodeNameSize) && in.readU16(flags1) && in.readU16(flags2) && in.readU16(parentId);
    if (!whole) {
        if (in.failure() == ChunkCursor::Failure::FileEnded) return Outcome::Truncated;
        // A damaged header still ends its node, nameless and without parent:
        // the pivot and tracks after it must not land in the node before, and
        // nodes numbered by their place in the list must keep their numbers.
        if (!walk.nodeOpen && !openNode(walk, false, 0)) return Outcome::OutOfMemory;
        walk.nodeOpen = false;
        return Outcome::Damaged;
    }
    if (!walk.nodeOpen && !openNode(walk, false, 0)) return Outcome::OutOfMemory;
    KeyframeList& keyframes = walk.lists.keyframeList();
    KeyframeNode& node = keyframes.nodes[keyframes.count - 1];
    node.tag = walk.nodeTag;
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
    walk.nodeOpen = false;
    return Outcome::GoOn;
}

// 0xB011 INSTANCE_NAME: instance name of the current node.
Outcome readInstanceName(WalkState&, ChunkCursor& in, KeyframeNode& node) {
    return in.readName(node.instanceName, kNodeNameSize) ? Outcome::GoOn : failureOf(in);
}

// 0xB013 PIVOT: float x, y, z.
Outcome readPivot(WalkState&, ChunkCursor& in, KeyframeNode& node) { return readFloats(in, node.pivot, 3); }

// 0xB014 BOUNDBOX: float minimum x, y, z, maximum x, y, z.
Outcome readBoundingBox(WalkState&, ChunkCursor& in, KeyframeNode& node) {
    return readFloats(in, node.boundingBox, 6);
}

// 0xB020 to 0xB028, the tracks: u16 flags, two u32, u32 key count, then per key
// u32 frame, u16 spline flags, one float per flag bit, and the key value. A
// track whose keys do not fit, or hold a number that is not finite, is damaged
// and the node keeps the track it had.
Outcome readTrack(WalkState& walk, ChunkCursor& in, int valueCount, uint32_t& keyCount, TrackKey*& keys,
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
    if (!walk.allocateArray(newKeys, n)) return Outcome::OutOfMemory;
    if (!walk.allocateArray(newValues, size_t(n) * size_t(valueCount))) {
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

// The placement tracks of every node: position and scale hold three floats a
// key, rotation four (angle, axis x, y, z).
Outcome readPositionTrack(WalkState& walk, ChunkCursor& in, KeyframeNode& node) {
    return readTrack(walk, in, 3, node.positionKeyCount, node.positionKeys, node.positionValues);
}

Outcome readRotationTrack(WalkState& walk, ChunkCursor& in, KeyframeNode& node) {
    return readTrack(walk, in, 4, node.rotationKeyCount, node.rotationKeys, node.rotationValues);
}

Outcome readScaleTrack(WalkState& walk, ChunkCursor& in, KeyframeNode& node) {
    return readTrack(walk, in, 3, node.scaleKeyCount, node.scaleKeys, node.scaleValues);
}

// The tracks only cameras and lights have: damage to them is lighting damage.
template <Track KeyframeNode::*field, int valueCount>
Outcome readLightingTrack(WalkState& walk, ChunkCursor& in, KeyframeNode& node) {
    Track& track = node.*field;
    const Outcome outcome = readTrack(walk, in, valueCount, track.keyCount, track.keys, track.values);
    return outcome == Outcome::Damaged ? walk.lightingDamage() : outcome;
}

// 0xB029 HIDE_TRACK_TAG: the track header as above, then per key u32 frame,
// u16 spline flags and one float per flag bit, with no value: only the frames
// are kept. Conversions without the animation never looked at this track, so
// keys that do not fit skip it without a warning and the node keeps the one
// it had.
Outcome readHideTrack(WalkState& walk, ChunkCursor& in, KeyframeNode& node) {
    uint16_t trackFlags;
    uint32_t unused[2], n = 0;
    in.readU16(trackFlags) && in.readU32(unused[0]) && in.readU32(unused[1]) && in.readU32(n);
    uint32_t* frames = nullptr;
    const bool fits = in.failure() == ChunkCursor::Failure::None && int64_t(n) <= in.remaining() / 6;
    if (fits) {
        if (!walk.allocateArray(frames, n)) return Outcome::OutOfMemory;
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

constexpr ChunkRule kKeyframerRules[] = {
    {KFDATA, Kind::Container, nullptr},
    {AMBIENT_NODE_TAG, Kind::Container, enterNodeTag<AMBIENT_NODE_TAG>},
    {OBJECT_NODE_TAG, Kind::Container, enterNodeTag<OBJECT_NODE_TAG>},
    {CAMERA_NODE_TAG, Kind::Container, enterNodeTag<CAMERA_NODE_TAG>},
    {TARGET_NODE_TAG, Kind::Container, enterNodeTag<TARGET_NODE_TAG>},
    {LIGHT_NODE_TAG, Kind::Container, enterNodeTag<LIGHT_NODE_TAG>},
    {L_TARGET_NODE_TAG, Kind::Container, enterNodeTag<L_TARGET_NODE_TAG>},
    {SPOTLIGHT_NODE_TAG, Kind::Container, enterNodeTag<SPOTLIGHT_NODE_TAG>},
    {KFSEG, Kind::Leaf, readSegment},
    {KFCURTIME, Kind::Leaf, readCurrentTime},
    {NODE_HDR, Kind::Leaf, readNodeHeader},
    {INSTANCE_NAME, Kind::Leaf, onNode<readInstanceName>},
    {PIVOT, Kind::Leaf, onNode<readPivot>},
    {BOUNDBOX, Kind::Leaf, onNode<readBoundingBox>},
    {POS_TRACK_TAG, Kind::Leaf, onNode<readPositionTrack>},
    {ROT_TRACK_TAG, Kind::Leaf, onNode<readRotationTrack>},
    {SCL_TRACK_TAG, Kind::Leaf, onNode<readScaleTrack>},
    {FOV_TRACK_TAG, Kind::Leaf, onNode<readLightingTrack<&KeyframeNode::fieldOfView, 1>>},
    {ROLL_TRACK_TAG, Kind::Leaf, onNode<readLightingTrack<&KeyframeNode::roll, 1>>},
    {COL_TRACK_TAG, Kind::Leaf, onNode<readLightingTrack<&KeyframeNode::colour, 3>>},
    {HOT_TRACK_TAG, Kind::Leaf, onNode<readLightingTrack<&KeyframeNode::hotspot, 1>>},
    {FALL_TRACK_TAG, Kind::Leaf, onNode<readLightingTrack<&KeyframeNode::falloff, 1>>},
    {HIDE_TRACK_TAG, Kind::Leaf, onNode<readHideTrack>},
    {NODE_ID, Kind::Leaf, readNodeId},
};

}  // namespace

ChunkRules keyframerRules() { return checkedRules<kKeyframerRules>(); }

}  // namespace kestrav
