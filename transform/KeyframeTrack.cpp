#include "transform/KeyframeTrack.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "reader/FiniteValues.h"

namespace kestrav {

namespace {

// 3ds Max counts the saved time in ticks; 3D Studio counted it in frames.
constexpr uint32_t kTicksPerFrame = 160;
constexpr double kPi = 3.14159265358979323846;

struct Vec3 {
    double x, y, z;
};

Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec3 operator*(double k, const Vec3& a) { return {k * a.x, k * a.y, k * a.z}; }
double length(const Vec3& a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }

// Unit quaternions, Hamilton's product: (a * b) turns by b first, then by a,
// when both act on column vectors.
struct Quat {
    double w, x, y, z;
};

Quat operator*(const Quat& a, const Quat& b) {
    return {a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z, a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x, a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w};
}

Quat toQuat(const RotationTrack::Total& t) { return {t.w, t.x, t.y, t.z}; }

Quat conjugate(const Quat& q) { return {q.w, -q.x, -q.y, -q.z}; }

Quat normalized(const Quat& q) {
    const double n = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
    return n > 0.0 ? Quat{q.w / n, q.x / n, q.y / n, q.z / n} : Quat{1.0, 0.0, 0.0, 0.0};
}

// exp of a pure quaternion: a turn by twice |v| about v.
Quat exp(const Vec3& v) {
    const double half = length(v);
    if (half < 1e-300) return {1.0, v.x, v.y, v.z};
    const double k = std::sin(half) / half;
    return {std::cos(half), k * v.x, k * v.y, k * v.z};
}

// The principal logarithm: half the angle, along the axis.
Vec3 log(const Quat& q) {
    const double s = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
    if (s < 1e-300) return {q.x, q.y, q.z};
    const double k = std::atan2(s, q.w) / s;
    return {k * q.x, k * q.y, k * q.z};
}

// Along the great arc from p to q, without taking the shorter way round: the
// keys' totals follow one another continuously, and the control points of
// squad rely on that.
Quat slerp(const Quat& p, const Quat& q, double t) { return p * exp(t * log(conjugate(p) * q)); }

Quat squad(const Quat& p, const Quat& q, const Quat& a, const Quat& b, double t) {
    return slerp(slerp(p, q, t), slerp(a, b, t), 2.0 * t * (1.0 - t));
}

// A rotation key's own turn as half its angle along its unit axis; a zero
// axis turns by nothing.
Vec3 halfTurn(const float* key) {
    const Vec3 axis{key[1], key[2], key[3]};
    const double n = length(axis);
    if (!(n > 0.0)) return {0.0, 0.0, 0.0};
    return (0.5 * double(key[0]) / n) * axis;
}

// The keys hold the file's spline values: tension, continuity and bias from
// -1 to 1, the eases from 0 to 1.
double tension(const TrackKey& key) { return key.tension; }
double continuity(const TrackKey& key) { return key.continuity; }
double bias(const TrackKey& key) { return key.bias; }
// An ease beyond 0 to 1, or not a number, is clamped.
double ease(float value) {
    const double e = value;
    return e > 0.0 ? (e < 1.0 ? e : 1.0) : 0.0;
}

// Time along a segment under the start key's ease from and the end key's ease
// to: constant acceleration over the eased parts, constant speed between.
double eased(double u, double from, double to) {
    double sum = from + to;
    if (sum <= 0.0) return u;
    if (sum > 1.0) {
        from /= sum;
        to /= sum;
        sum = 1.0;
    }
    const double k = 1.0 / (2.0 - sum);
    if (u < from) return k / from * u * u;
    if (u < 1.0 - to) return k * (2.0 * u - from);
    const double rest = 1.0 - u;
    return 1.0 - k / to * rest * rest;
}

// Tangents of Kochanek-Bartels splines over any quantity whose change across
// the segment ending at key k is change(k): differences of positions, or
// logarithms of relative turns.
template <class Change>
class Tangents {
public:
    Tangents(const TrackKey* trackKeys, uint32_t keyCount, const Change& keyChange)
        : keys(trackKeys), count(keyCount), change(keyChange) {}

    // Leaving key i towards key i + 1.
    Vec3 outgoing(uint32_t i) const {
        if (count == 2) return (1.0 - tension(keys[0])) * change(1);
        if (i == 0) return (1.0 - tension(keys[0])) * (1.5 * change(1) - 0.5 * interior(1, true));
        return interior(i, false);
    }
    // Arriving at key i from key i - 1.
    Vec3 incoming(uint32_t i) const {
        if (count == 2) return (1.0 - tension(keys[1])) * change(1);
        if (i == count - 1)
            return (1.0 - tension(keys[i])) * (1.5 * change(i) - 0.5 * interior(i - 1, false));
        return interior(i, true);
    }

private:
    // At a key with neighbours on both sides; each side's share is scaled by
    // the length of the segment it serves, so speed stays continuous across
    // keys that are unevenly spaced.
    Vec3 interior(uint32_t i, bool arriving) const {
        const TrackKey& key = keys[i];
        const double t = 1.0 - tension(key), c = continuity(key), b = bias(key);
        // Continuity pulls the arriving tangent towards the previous chord when
        // negative and the leaving one towards the next, so -1 makes a corner.
        double before, after;
        if (arriving) {
            before = t * (1.0 - c) * (1.0 + b) / 2.0;
            after = t * (1.0 + c) * (1.0 - b) / 2.0;
        } else {
            before = t * (1.0 + c) * (1.0 + b) / 2.0;
            after = t * (1.0 - c) * (1.0 - b) / 2.0;
        }
        const double previous = double(key.frame) - double(keys[i - 1].frame);
        const double next = double(keys[i + 1].frame) - double(key.frame);
        const double span = previous + next;
        if (span != 0.0) {
            const double speed = 2.0 * (arriving ? previous : next) / span;
            before *= speed;
            after *= speed;
        }
        return before * change(i) + after * change(i + 1);
    }

    const TrackKey* keys;
    uint32_t count;
    const Change& change;
};

// The segment that holds the frame: keys i and i + 1 with frame_i <= frame <
// frame_i+1, and the eased time along it. False when the frame is at or before
// the first key or the track has one key (i = 0), or at or after the last key
// (i = count - 1).
bool findSegment(const TrackKey* keys, uint32_t count, uint32_t frame, uint32_t& i, double& s) {
    i = 0;
    if (count < 2 || frame <= keys[0].frame) return false;
    while (i + 1 < count && keys[i + 1].frame <= frame) ++i;
    if (i + 1 == count) return false;
    const double start = keys[i].frame, end = keys[i + 1].frame;
    s = eased((double(frame) - start) / (end - start), ease(keys[i].easeFrom), ease(keys[i + 1].easeTo));
    return true;
}

bool storeIfFinite(const double* v, int count, float* out) {
    for (int c = 0; c < count; ++c)
        if (!(std::fabs(v[c]) <= double(FLT_MAX))) return false;
    for (int c = 0; c < count; ++c) out[c] = float(v[c]);
    return true;
}

}  // namespace

uint32_t placementFrame(const KeyframeList& keyframes) {
    const uint32_t time = keyframes.currentTime;
    auto inSegment = [&](uint32_t frame) { return frame >= keyframes.segmentStart && frame <= keyframes.segmentEnd; };
    if (inSegment(time)) return time;
    if (time % kTicksPerFrame == 0 && inSegment(time / kTicksPerFrame)) return time / kTicksPerFrame;
    return 0;
}

bool animationSegment(const KeyframeList& keyframes, uint32_t& first, uint32_t& last) {
    if (keyframes.segmentGiven) {
        first = keyframes.segmentStart;
        last = keyframes.segmentEnd;
        return first <= last;
    }
    first = last = 0;
    auto reach = [&](const TrackKey* keys, uint32_t count) {
        for (uint32_t k = 0; k < count; ++k) last = std::max(last, keys[k].frame);
    };
    for (size_t i = 0; i < keyframes.count; ++i) {
        const KeyframeNode& node = keyframes.nodes[i];
        reach(node.positionKeys, node.positionKeyCount);
        reach(node.rotationKeys, node.rotationKeyCount);
        reach(node.scaleKeys, node.scaleKeyCount);
        for (uint32_t k = 0; k < node.hideKeyCount; ++k) last = std::max(last, node.hideFrames[k]);
    }
    return true;
}

bool visibleAt(const KeyframeNode& node, uint32_t frame) {
    bool visible = true;
    for (uint32_t k = 0; k < node.hideKeyCount; ++k)
        if (node.hideFrames[k] <= frame) visible = !visible;
    return visible;
}

namespace {

// Tracks of width 1 (angles) or 3 (positions, scales, colours), the unused
// components of a width-1 value held at 0.
bool splineTrackAt(const TrackKey* keys, const float* values, uint32_t count, uint32_t frame, int width,
                   float* out) {
    if (count == 0) return false;
    uint32_t i;
    double s = 0.0;
    const bool between = findSegment(keys, count, frame, i, s);
    // Keys that are not numbers, or a curve beyond float's range, leave the
    // first key, as when only the first key was read.
    const uint32_t first = i > 0 ? i - 1 : 0, last = i + 2 < count ? i + 2 : count - 1;
    if (between && allFinite(values + width * size_t(first), width * size_t(last - first + 1))) {
        auto value = [&](uint32_t k) {
            const float* v = values + width * size_t(k);
            return width == 3 ? Vec3{v[0], v[1], v[2]} : Vec3{v[0], 0.0, 0.0};
        };
        auto change = [&](uint32_t k) { return value(k) - value(k - 1); };
        const Tangents<decltype(change)> tangents(keys, count, change);
        const double s2 = s * s, s3 = s2 * s;
        const Vec3 p = (2.0 * s3 - 3.0 * s2 + 1.0) * value(i) + (s3 - 2.0 * s2 + s) * tangents.outgoing(i) +
                       (-2.0 * s3 + 3.0 * s2) * value(i + 1) + (s3 - s2) * tangents.incoming(i + 1);
        const double xyz[3] = {p.x, p.y, p.z};
        if (storeIfFinite(xyz, width, out)) return true;
    }
    const float* key = between ? values : values + width * size_t(i);
    for (int c = 0; c < width; ++c) out[c] = key[c];
    return true;
}

}  // namespace

bool vectorTrackAt(const TrackKey* keys, const float* values, uint32_t count, uint32_t frame, float out[3]) {
    return splineTrackAt(keys, values, count, frame, 3, out);
}

bool scalarTrackAt(const Track& track, uint32_t frame, float& out) {
    return splineTrackAt(track.keys, track.values, track.keyCount, frame, 1, &out);
}

bool vectorTrackAt(const Track& track, uint32_t frame, float out[3]) {
    return splineTrackAt(track.keys, track.values, track.keyCount, frame, 3, out);
}

RotationTrack::RotationTrack(const TrackKey* trackKeys, const float* trackValues, uint32_t keyCount)
    : keys(trackKeys), values(trackValues), count(keyCount) {
    // Key k's total is its own turn after key k - 1's total.
    for (uint32_t k = 0; k < count && allFinite(values + 4 * size_t(k), 4); ++k) {
        const Quat own = exp(halfTurn(values + 4 * size_t(k)));
        const Quat total = k == 0 ? own : normalized(toQuat(totals.back()) * own);
        totals.push_back({total.w, total.x, total.y, total.z});
    }
}

bool RotationTrack::at(uint32_t frame, float out[4]) const {
    if (count == 0) return false;
    uint32_t i;
    double s = 0.0;
    const bool between = findSegment(keys, count, frame, i, s);
    const uint32_t last = between ? (i + 2 < count ? i + 2 : count - 1) : i;
    if ((between || i != 0) && last < totals.size()) {
        auto change = [&](uint32_t k) { return halfTurn(values + 4 * size_t(k)); };
        const Quat total = toQuat(totals[i]);
        Quat q = total;
        if (between) {
            const Vec3 step = change(i + 1);
            if (std::fabs(double(values[4 * size_t(i + 1)])) > kPi) {
                // Squad would go the shorter way round; a key of more than half
                // a turn turns about its own axis through its whole angle.
                q = total * exp(s * step);
            } else {
                const Quat next = normalized(total * exp(step));
                const Tangents<decltype(change)> tangents(keys, count, change);
                const Quat a = total * exp(0.5 * (tangents.outgoing(i) - step));
                const Quat b = next * exp(0.5 * (step - tangents.incoming(i + 1)));
                q = squad(total, next, a, b, s);
            }
        }
        q = normalized(q);
        if (q.w < 0.0) q = {-q.w, -q.x, -q.y, -q.z};
        const double sine = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
        const double turn[4] = {2.0 * std::atan2(sine, q.w), sine > 0.0 ? q.x / sine : 0.0,
                                sine > 0.0 ? q.y / sine : 0.0, sine > 0.0 ? q.z / sine : 0.0};
        if (storeIfFinite(turn, 4, out)) return true;
    }
    for (int c = 0; c < 4; ++c) out[c] = values[c];
    return true;
}

}  // namespace kestrav
