#include "reader/ChunkWalk.h"

#include <initializer_list>

#include "reader/ChunkCursor.h"
#include "reader/ChunkId.h"
#include "reader/WalkState.h"

namespace kestrav {

namespace {

constexpr int64_t kChunkHeaderSize = 6;
constexpr int64_t kLargestOffset = 0x7FFFFFFF;

// The frame of the file: everything else sits in these.
constexpr ChunkRule kFileRules[] = {
    {MDATA, Kind::Container, nullptr},
    {M3DMAGIC, Kind::Container, nullptr},
};

const ChunkRule* fileRule(uint16_t id) {
    for (const ChunkRules& family :
         {checkedRules<kFileRules>(), meshRules(), materialRules(), keyframerRules(), lightingRules()})
        if (const ChunkRule* rule = family.find(id)) return rule;
    return nullptr;
}

// Reads chunk after chunk from position up to end. A container is descended
// into, a chunk with a rule is read by its handler, and any other is passed
// over by its length. In the file the walk is flat: it keeps no stack of open
// chunks. Inside a chunk (rules given), the sub-chunks must fit in it, and
// damage to them or to their framing is lighting damage that ends nothing
// but this walk.
Outcome walkFrames(WalkState& walk, int64_t position, const int64_t end, const ChunkRules* inside) {
    int64_t furthestEnd = 0;
    while (position < end) {
        // Inside a chunk, a tail too short for a header is passed over.
        if (end - position < kChunkHeaderSize) return inside ? Outcome::GoOn : Outcome::Truncated;
        ChunkCursor header(walk.bytes, walk.size, position, end);
        uint16_t id;
        uint32_t length;
        if (!header.readU16(id) || !header.readU32(length)) return Outcome::Truncated;
        // A length below the header's own would hold the walk in place or move it back.
        const int64_t room = inside ? end - position : kLargestOffset - position;
        if (length < kChunkHeaderSize || length > room) return inside ? walk.lightingDamage() : Outcome::BadChunkLength;
        const int64_t chunkEnd = position + length;
        const ChunkRule* rule = inside ? inside->find(id) : fileRule(id);

        if (rule && rule->kind == Kind::Container) {
            if (rule->handle) {
                ChunkCursor none(walk.bytes, walk.size, header.offset(), header.offset());
                rule->handle(walk, none);
            }
            if (chunkEnd > furthestEnd) furthestEnd = chunkEnd;
            position = header.offset();
            continue;
        }
        Outcome outcome = Outcome::SkipChunk;
        if (rule) {
            if (rule->kind == Kind::Leaf && chunkEnd > walk.size) return Outcome::Truncated;
            ChunkCursor in(walk.bytes, walk.size, header.offset(), chunkEnd);
            outcome = rule->handle(walk, in);
            if (outcome == Outcome::GoOn && rule->kind == Kind::Descended) {
                if (chunkEnd > furthestEnd) furthestEnd = chunkEnd;
                position = in.offset();
                continue;
            }
        }
        if (outcome == Outcome::Damaged) {
            // Its length is sound, so the next chunk is where it says; a
            // damaged face array takes its sub-chunks with it.
            if (inside)
                walk.lightingDamage();
            else
                walk.localDamage = true;
            outcome = Outcome::SkipChunk;
        }
        if (outcome != Outcome::GoOn && outcome != Outcome::SkipChunk) return outcome;
        // Go on at the declared end, whatever the handler read, so a damaged
        // chunk cannot pull the walk out of step.
        if (chunkEnd > walk.size) return Outcome::Truncated;
        position = chunkEnd;
    }
    // A container that reaches past the last byte lost its tail.
    return furthestEnd > walk.size ? Outcome::Truncated : Outcome::GoOn;
}

}  // namespace

void walkInside(WalkState& walk, ChunkCursor& in, ChunkRules rules) {
    walkFrames(walk, in.offset(), in.offset() + in.remaining(), &rules);
}

bool isKnownChunkId(uint16_t id) { return fileRule(id) != nullptr; }

bool walkChunks(const uint8_t* bytes, int64_t size, ModelLists& lists, WalkEnd& end) {
    WalkState walk(lists, bytes, size);
    // Damage to the framing says more than damage inside chunks before it.
    switch (walkFrames(walk, 0, size, nullptr)) {
    case Outcome::OutOfMemory: return false;
    case Outcome::Truncated: end = WalkEnd::Truncated; break;
    case Outcome::BadChunkLength: end = WalkEnd::BadChunkLength; break;
    default: end = walk.localDamage ? WalkEnd::DamagedChunksSkipped : WalkEnd::Complete; break;
    }
    return true;
}

}  // namespace kestrav
