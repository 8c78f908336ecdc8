#include "reader/ChunkCursor.h"

#include <algorithm>
#include <cstring>

namespace kestrav {

bool ChunkCursor::read(void* out, uint32_t count) {
    if (failed != Failure::None) return false;
    if (count > end - position) {
        failed = Failure::PastChunkEnd;
        return false;
    }
    if (count > byteCount - position) {
        failed = Failure::FileEnded;
        return false;
    }
    if (count != 0) std::memcpy(out, bytes + position, count);
    position += count;
    return true;
}

bool ChunkCursor::readU8(uint8_t& value) { return read(&value, 1); }

bool ChunkCursor::readU16(uint16_t& value) {
    uint8_t b[2];
    if (!read(b, 2)) return false;
    value = uint16_t(b[0] | b[1] << 8);
    return true;
}

bool ChunkCursor::readI16(int16_t& value) {
    uint16_t bits;
    if (!readU16(bits)) return false;
    value = int16_t(bits);
    return true;
}

bool ChunkCursor::readU32(uint32_t& value) {
    uint8_t b[4];
    if (!read(b, 4)) return false;
    value = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    return true;
}

bool ChunkCursor::readF32(float& value) {
    uint32_t bits;
    if (!readU32(bits)) return false;
    std::memcpy(&value, &bits, sizeof value);
    return true;
}

namespace {
// Puts values read as little-endian bytes in host order: their bytes are
// reversed on big-endian machines and left as they are elsewhere.
void toHostOrder(void* values, uint32_t count, uint32_t size) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    auto* bytes = static_cast<unsigned char*>(values);
    for (uint32_t i = 0; i < count; ++i, bytes += size) std::reverse(bytes, bytes + size);
#else
    (void)values;
    (void)count;
    (void)size;
#endif
}
}  // namespace

bool ChunkCursor::readArray(void* out, uint32_t count, uint32_t size) {
    if (count > UINT32_MAX / size || !read(out, count * size)) return false;
    toHostOrder(out, count, size);
    return true;
}

bool ChunkCursor::readU16s(uint16_t* out, uint32_t count) { return readArray(out, count, 2); }

bool ChunkCursor::readU32s(uint32_t* out, uint32_t count) { return readArray(out, count, 4); }

bool ChunkCursor::readF32s(float* out, uint32_t count) {
    static_assert(sizeof(float) == 4, "floats are read as their 32-bit patterns");
    return readArray(out, count, 4);
}

bool ChunkCursor::readName(char* out, int size) {
    int n = 0;
    while (remaining() > 0) {
        uint8_t c;
        if (!readU8(c) || c == 0) break;
        if (n + 1 < size) out[n++] = char(c);
    }
    std::memset(out + n, 0, size_t(size - n));
    return failed == Failure::None;
}

}  // namespace kestrav
