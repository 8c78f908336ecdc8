#pragma once

// The keyframer's tracks evaluated at one frame, as 3D Studio plays them:
// Kochanek-Bartels splines for positions and scales, and for rotations squad
// over the keys' accumulated quaternions, with each key's ease to and ease
// from. Before the first key, and for a track of one key, the first key's
// values come back as the file stores them; after the last key its value holds.

#include <cstdint>
#include <vector>

#include "reader/ModelRecords.h"

namespace kestrav {

// The frame the stored vertices show: the saved time when it lies in the
// active segment, else the saved time in ticks of 1/160 frame when that lands
// in the segment, else 0.
uint32_t placementFrame(const KeyframeList& keyframes);

// The frames the animation plays, first to last: the active segment when the
// file gives one, else frame 0 to the last key of any track. False when there
// is none (a segment that ends before it starts).
bool animationSegment(const KeyframeList& keyframes, uint32_t& first, uint32_t& last);

// Whether the node's hide track shows it at the frame: each key from its frame
// on toggles, and the node starts visible.
bool visibleAt(const KeyframeNode& node, uint32_t frame);

// A position or scale track at the frame, three values; false for a track
// without keys (out is then untouched).
bool vectorTrackAt(const TrackKey* keys, const float* values, uint32_t count, uint32_t frame, float out[3]);

// The same for a camera's or light's track: one value (angles) or three (colours).
bool scalarTrackAt(const Track& track, uint32_t frame, float& out);
bool vectorTrackAt(const Track& track, uint32_t frame, float out[3]);

// A rotation track. Each key turns relative to the one before, so a frame's
// turn builds on the accumulated turn of the key that starts its segment; those
// totals are worked out once here, so a frame costs one segment.
class RotationTrack {
public:
    // No keys.
    RotationTrack() = default;
    // The keys and values must outlive the track.
    RotationTrack(const TrackKey* keys, const float* values, uint32_t count);

    // The turn at the frame as angle, then axis x, y, z, the layout of a key;
    // false for a track without keys (out is then untouched).
    bool at(uint32_t frame, float out[4]) const;

    // A key's accumulated turn as a unit quaternion.
    struct Total {
        double w, x, y, z;
    };

private:
    const TrackKey* keys = nullptr;
    const float* values = nullptr;
    uint32_t count = 0;
    // The totals of the leading keys whose values are all finite; a frame
    // that needs a key past them keeps the first key.
    std::vector<Total> totals;
};

}  // namespace kestrav
