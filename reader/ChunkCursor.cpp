#include "reader/ChunkCursor.h"

#include <cstring>

ChunkCursor::ChunkCursor(FILE* input, int64_t start, int64_t chunkEnd) : file(input), position(start), end(chunkEnd) {}

bool ChunkCursor::read(void* out, uint32_t count) {
    if (failed != Failure::None) return false;
    if (count > end - position) {
        failed = Failure::PastChunkEnd;
        return false;
    }
    if (std::fread(out, 1, count, file) != count) {
        failed = Failure::FileEnded;
        return false;
    }
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

// The bytes of a value array are read in place and then put in host order,
// which leaves them as they are on little-endian machines.
bool ChunkCursor::readU16s(uint16_t* out, uint32_t count) {
    if (count > UINT32_MAX / 2 || !read(out, count * 2)) return false;
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t b[2];
        std::memcpy(b, out + i, 2);
        out[i] = uint16_t(b[0] | b[1] << 8);
    }
#endif
    return true;
}

bool ChunkCursor::readU32s(uint32_t* out, uint32_t count) {
    if (count > UINT32_MAX / 4 || !read(out, count * 4)) return false;
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t b[4];
        std::memcpy(b, out + i, 4);
        out[i] = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    }
#endif
    return true;
}

bool ChunkCursor::readF32s(float* out, uint32_t count) {
    static_assert(sizeof(float) == sizeof(uint32_t), "floats are read as their 32-bit patterns");
    if (count > UINT32_MAX / 4 || !read(out, count * 4)) return false;
#if __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t b[4];
        std::memcpy(b, out + i, 4);
        const uint32_t bits = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        std::memcpy(out + i, &bits, 4);
    }
#endif
    return true;
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
