#pragma once

// Builds 3DS chunks in memory so models read like the format:
//   Chunk3ds(POINT_ARRAY).u16(1).f32(0).f32(0).f32(0)
// The length field is computed from the payload and the children, unless a
// caller sets a damaged one with length().

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "reader/ChunkId.h"

namespace kestrav {

using Bytes = std::vector<uint8_t>;

class Chunk3ds {
public:
    explicit Chunk3ds(uint16_t chunkId) : id(chunkId) {}

    Chunk3ds& u8(uint8_t v) {
        body.push_back(v);
        return *this;
    }
    Chunk3ds& u16(uint16_t v) { return put(v, 2); }
    Chunk3ds& i16(int16_t v) { return put(uint16_t(v), 2); }
    Chunk3ds& u32(uint32_t v) { return put(v, 4); }
    Chunk3ds& f32(float v);
    Chunk3ds& floats(std::initializer_list<float> values);
    // A name with its zero byte.
    Chunk3ds& name(const std::string& text);
    Chunk3ds& raw(const Bytes& bytes);
    Chunk3ds& add(const Chunk3ds& child) { return raw(child.bytes()); }
    Chunk3ds& add(std::initializer_list<Chunk3ds> children);
    // Declares a length other than the real one, for damaged files.
    Chunk3ds& length(uint32_t declared);

    Bytes bytes() const;

private:
    Chunk3ds& put(uint32_t v, int width);

    uint16_t id;
    Bytes body;
    uint32_t declaredLength = 0;
    bool hasDeclaredLength = false;
};

// A 3DS file: M3DMAGIC around MDATA around the given chunks, then a KFDATA
// section with the given node chunks when there are any.
Bytes model3ds(std::initializer_list<Chunk3ds> data, std::initializer_list<Chunk3ds> keyframer = {});

}  // namespace kestrav
