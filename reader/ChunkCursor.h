#pragma once

#include <cstdint>
#include <cstdio>

namespace kestrav {

// Reads the payload of one chunk from the file. It knows where its chunk ends
// and never reads past it; a failed read is sticky, so a handler can read
// several fields and check once.
class ChunkCursor {
public:
    enum class Failure { None, PastChunkEnd, FileEnded };

    // The file must stand at position; end is where the chunk ends.
    ChunkCursor(FILE* file, int64_t position, int64_t end);

    bool read(void* out, uint32_t count);
    bool readU8(uint8_t& value);
    bool readU16(uint16_t& value);
    bool readI16(int16_t& value);
    bool readU32(uint32_t& value);
    bool readF32(float& value);
    // Arrays of little-endian values, read with one call into the file.
    bool readU16s(uint16_t* out, uint32_t count);
    bool readU32s(uint32_t* out, uint32_t count);
    bool readF32s(float* out, uint32_t count);
    // Reads a name up to its zero byte, storing at most size - 1 bytes and
    // zeros up to size; the rest of a longer name is read and dropped. A name
    // cut by the chunk's end ends there.
    bool readName(char* out, int size);

    int64_t remaining() const { return end - position; }
    int64_t offset() const { return position; }
    Failure failure() const { return failed; }

private:
    bool readArray(void* out, uint32_t count, uint32_t size);

    FILE* file;
    int64_t position;
    int64_t end;
    Failure failed = Failure::None;
};

}  // namespace kestrav
