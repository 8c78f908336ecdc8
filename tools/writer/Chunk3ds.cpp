#include "tools/writer/Chunk3ds.h"

#include <cstring>

namespace kestrav {

Chunk3ds& Chunk3ds::f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return put(bits, 4);
}

Chunk3ds& Chunk3ds::floats(std::initializer_list<float> values) {
    for (float v : values) f32(v);
    return *this;
}

Chunk3ds& Chunk3ds::name(const std::string& text) {
    body.insert(body.end(), text.begin(), text.end());
    body.push_back(0);
    return *this;
}

Chunk3ds& Chunk3ds::raw(const Bytes& bytes) {
    body.insert(body.end(), bytes.begin(), bytes.end());
    return *this;
}

Chunk3ds& Chunk3ds::add(std::initializer_list<Chunk3ds> children) {
    for (const Chunk3ds& child : children) add(child);
    return *this;
}

Chunk3ds& Chunk3ds::length(uint32_t declared) {
    declaredLength = declared;
    hasDeclaredLength = true;
    return *this;
}

Bytes Chunk3ds::bytes() const {
    const uint32_t len = hasDeclaredLength ? declaredLength : uint32_t(body.size() + 6);
    // Sized once: filling a 6-byte vector and growing it trips a false
    // -Warray-bounds of g++ 12 in optimised builds.
    Bytes out(6 + body.size());
    const uint8_t header[6] = {uint8_t(id),  uint8_t(id >> 8),  uint8_t(len),
                               uint8_t(len >> 8), uint8_t(len >> 16), uint8_t(len >> 24)};
    std::memcpy(out.data(), header, 6);
    if (!body.empty()) std::memcpy(out.data() + 6, body.data(), body.size());
    return out;
}

Chunk3ds& Chunk3ds::put(uint32_t v, int width) {
    for (int i = 0; i < width; ++i) body.push_back(uint8_t(v >> (8 * i)));
    return *this;
}

Bytes model3ds(std::initializer_list<Chunk3ds> data, std::initializer_list<Chunk3ds> keyframer) {
    Chunk3ds magic(M3DMAGIC);
    magic.add(Chunk3ds(MDATA).add(data));
    if (keyframer.size() != 0) magic.add(Chunk3ds(KFDATA).add(keyframer));
    return magic.bytes();
}

}  // namespace kestrav
