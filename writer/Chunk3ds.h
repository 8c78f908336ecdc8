#pragma once

// Builds 3DS chunks in memory so fixtures read like the format:
//   Chunk3ds(POINT_ARRAY).u16(1).f32(0).f32(0).f32(0)
// The length field is computed from the payload and the children, unless a
// test sets a damaged one with length().

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "reader/ChunkId.h"

using Bytes = std::vector<uint8_t>;

class Chunk3ds {
public:
    explicit Chunk3ds(uint16_t chunkId) : id(chunkId) {}

    Chunk3ds& u8(uint8_t v) { body.push_back(v); return *this; }
    Chunk3ds& u16(uint16_t v) { return put(v, 2); }
    Chunk3ds& i16(int16_t v) { return put(uint16_t(v), 2); }
    Chunk3ds& u32(uint32_t v) { return put(v, 4); }
    Chunk3ds& f32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        return put(bits, 4);
    }
    Chunk3ds& floats(std::initializer_list<float> values) {
        for (float v : values) f32(v);
        return *this;
    }
    // A name with its zero byte.
    Chunk3ds& name(const std::string& text) {
        body.insert(body.end(), text.begin(), text.end());
        body.push_back(0);
        return *this;
    }
    Chunk3ds& raw(const Bytes& bytes) {
        body.insert(body.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Chunk3ds& add(const Chunk3ds& child) { return raw(child.bytes()); }
    // Declares a length other than the real one, for damaged files.
    Chunk3ds& length(uint32_t declared) {
        declaredLength = declared;
        hasDeclaredLength = true;
        return *this;
    }

    Bytes bytes() const {
        const uint32_t len = hasDeclaredLength ? declaredLength : uint32_t(body.size() + 6);
        // Sized once: filling a 6-byte vector and growing it trips a false
        // -Warray-bounds of g++ 12 in optimised builds.
        Bytes out(6 + body.size());
        const uint8_t header[6] = {uint8_t(id), uint8_t(id >> 8), uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16),
                                   uint8_t(len >> 24)};
        std::memcpy(out.data(), header, 6);
        if (!body.empty()) std::memcpy(out.data() + 6, body.data(), body.size());
        return out;
    }

private:
    Chunk3ds& put(uint32_t v, int width) {
        for (int i = 0; i < width; ++i) body.push_back(uint8_t(v >> (8 * i)));
        return *this;
    }

    uint16_t id;
    Bytes body;
    uint32_t declaredLength = 0;
    bool hasDeclaredLength = false;
};

// A 3DS file: M3DMAGIC around MDATA around the given chunks, then a KFDATA
// section with the given node chunks when there are any.
inline Bytes model3ds(std::initializer_list<Chunk3ds> data, std::initializer_list<Chunk3ds> keyframer = {}) {
    Chunk3ds mdata(MDATA);
    for (const Chunk3ds& chunk : data) mdata.add(chunk);
    Chunk3ds magic(M3DMAGIC);
    magic.add(mdata);
    if (keyframer.size() != 0) {
        Chunk3ds kfdata(KFDATA);
        for (const Chunk3ds& chunk : keyframer) kfdata.add(chunk);
        magic.add(kfdata);
    }
    return magic.bytes();
}
