#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/BlockOutput.h"

namespace kestrav {

// An SoOutput for SoWriteAction that writes the scene in Open Inventor binary
// form to a descriptor in large blocks, producing the same bytes as Coin's own
// SoOutput set to binary with its default header. Coin's binary writer turns
// every value into a call of writeBinaryArray on single bytes; here each value
// is stored big-endian straight into the block, and whole arrays of the
// multiple-value fields are copied and byte-swapped in one pass.
//
// Coin follows every value it writes (all but raw byte arrays) with zeros up
// to the next multiple of four bytes from the start of the file. Its nodes and
// fields keep the file word-aligned, so the zeros only appear after raw bytes
// of a length that is not a multiple of four; they are written here alike.
class BinarySceneOutput : public BlockOutput {
public:
    // threads: 1, or more for a thread that writes the blocks out while
    // Coin's traversal fills the next (one such thread is all it uses).
    BinarySceneOutput(int descriptor, size_t threads);

    void write(const char c) override;
    void write(const char* s) override;
    void write(const SbString& s) override;
    void write(const SbName& n) override;
    void write(const int i) override;
    void write(const unsigned int i) override;
    void write(const short s) override;
    void write(const unsigned short s) override;
    void write(const float f) override;
    void write(const double d) override;
    void writeBinaryArray(const unsigned char* c, const int length) override;
    void writeBinaryArray(const int32_t* const l, const int length) override;
    void writeBinaryArray(const float* const f, const int length) override;
    void writeBinaryArray(const double* const d, const int length) override;

private:
    void startScene();
    void append(const void* bytes, size_t count);
    void appendString(const char* s, size_t length);
    void appendWord(uint32_t word);
    void appendDouble(double d);
    void padToWord();
    bool atWordBoundary() const { return (written() & 3) == 0; }
    template <class Word>
    void appendSwapped(const Word* words, size_t count);
};

}  // namespace kestrav
