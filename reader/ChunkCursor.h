#pragma once

#include <cstdint>

namespace kestrav {

// Reads the payload of one chunk from the bytes of a model. It knows where its
// chunk ends and never reads past it or past the model's last byte; a failed
// read is sticky, so a handler can read several fields and check once.
class ChunkCursor {
public:
    enum class Failure { None, PastChunkEnd, FileEnded };

    // model holds modelSize bytes; the chunk's payload runs from start to
    // chunkEnd, which lies past the last byte when the model was cut short.
    ChunkCursor(const uint8_t* model, int64_t modelSize, int64_t start, int64_t chunkEnd)
        : bytes(model), byteCount(modelSize), position(start), end(chunkEnd) {}

    bool read(void* out, uint32_t count);
    bool readU8(uint8_t& value);
    bool readU16(uint16_t& value);
    bool readI16(int16_t& value);
    bool readU32(uint32_t& value);
    bool readF32(float& value);
    // Arrays of little-endian values.
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

    const uint8_t* bytes;
    int64_t byteCount;
    int64_t position;
    int64_t end;
    Failure failed = Failure::None;
};

}  // namespace kestrav
