#include "convert/BinarySceneOutput.h"

#include <Inventor/SbName.h>
#include <Inventor/SbString.h>

#include <cstring>

namespace kestrav {

namespace {

// Words as the file holds them: most significant byte first.
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
uint32_t bigEndian(uint32_t word) { return word; }
uint64_t bigEndian(uint64_t word) { return word; }
#else
uint32_t bigEndian(uint32_t word) { return __builtin_bswap32(word); }
uint64_t bigEndian(uint64_t word) { return __builtin_bswap64(word); }
#endif

template <class Word, class Value>
Word bitsOf(Value value) {
    static_assert(sizeof(Word) == sizeof(Value), "a value is stored as a word of its own size");
    Word word;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

}  // namespace

BinarySceneOutput::BinarySceneOutput(int descriptor, size_t threads) : BlockOutput(descriptor, threads) {
    // Coin's nodes and fields ask isBinary() how to write themselves.
    setBinary(TRUE);
}

void BinarySceneOutput::padToWord() {
    static const char zeros[4] = {};
    const size_t past = size_t(written() & 3);
    if (past != 0) append(zeros, 4 - past);
}

// Coin starts the scene with its binary header, padded with blanks so that
// with its newline it fills whole words, on the first write after a reset.
void BinarySceneOutput::startScene() {
    wroteHeader = TRUE;
    const SbString header = padHeader(getDefaultBinaryHeader());
    append(header.getString(), size_t(header.getLength()));
    append("\n", 1);
}

void BinarySceneOutput::append(const void* data, size_t count) {
    appendInBlocks(static_cast<const char*>(data), count);
}

void BinarySceneOutput::appendWord(uint32_t word) {
    word = bigEndian(word);
    if (capacity - used >= 4) {
        std::memcpy(block + used, &word, 4);
        used += 4;
    } else {
        append(&word, 4);
    }
    if (!atWordBoundary()) padToWord();
}

void BinarySceneOutput::appendDouble(double d) {
    const uint64_t word = bigEndian(bitsOf<uint64_t>(d));
    append(&word, 8);
    padToWord();
}

// A string is its length as a word, then its bytes, then zeros up to the next
// whole word. Coin writes no terminating zero and escapes nothing.
void BinarySceneOutput::appendString(const char* s, size_t length) {
    appendWord(uint32_t(length));
    append(s, length);
    padToWord();
}

// Stores a run of words big-endian. The block may be only word-aligned where
// doubles start, so each word goes through memcpy, which the compiler turns
// into plain loads, swaps and stores.
template <class Word>
void BinarySceneOutput::appendSwapped(const Word* words, size_t count) {
    // Off the word boundary each value is padded alone; the first one brings
    // the rest back onto it.
    if (count > 0 && !atWordBoundary()) {
        const Word word = bigEndian(words[0]);
        append(&word, sizeof word);
        padToWord();
        ++words;
        --count;
    }
    while (count > 0) {
        if (capacity - used < sizeof(Word)) flush();
        const size_t room = (capacity - used) / sizeof(Word);
        const size_t part = count < room ? count : room;
        char* out = block + used;
        for (size_t i = 0; i < part; ++i) {
            const Word word = bigEndian(words[i]);
            std::memcpy(out + i * sizeof(Word), &word, sizeof(Word));
        }
        used += part * sizeof(Word);
        words += part;
        count -= part;
    }
}

// A character is one byte, padded like any other value.
void BinarySceneOutput::write(const char c) {
    if (!wroteHeader) startScene();
    append(&c, 1);
    padToWord();
}

void BinarySceneOutput::write(const char* s) {
    if (!wroteHeader) startScene();
    appendString(s, std::strlen(s));
}

void BinarySceneOutput::write(const SbString& s) {
    if (!wroteHeader) startScene();
    appendString(s.getString(), size_t(s.getLength()));
}

void BinarySceneOutput::write(const SbName& n) {
    if (!wroteHeader) startScene();
    appendString(n.getString(), size_t(n.getLength()));
}

void BinarySceneOutput::write(const int i) {
    if (!wroteHeader) startScene();
    appendWord(uint32_t(i));
}

void BinarySceneOutput::write(const unsigned int i) {
    if (!wroteHeader) startScene();
    appendWord(i);
}

// Shorts take a whole word too, sign- or zero-extended.
void BinarySceneOutput::write(const short s) { write(int(s)); }

void BinarySceneOutput::write(const unsigned short s) { write(static_cast<unsigned int>(s)); }

void BinarySceneOutput::write(const float f) {
    if (!wroteHeader) startScene();
    appendWord(bitsOf<uint32_t>(f));
}

void BinarySceneOutput::write(const double d) {
    if (!wroteHeader) startScene();
    appendDouble(d);
}

// Raw bytes, with no length and no padding: Coin's images pad themselves.
void BinarySceneOutput::writeBinaryArray(const unsigned char* c, const int length) {
    if (!wroteHeader) startScene();
    if (length > 0) append(c, size_t(length));
}

void BinarySceneOutput::writeBinaryArray(const int32_t* const l, const int length) {
    if (!wroteHeader) startScene();
    if (length > 0) appendSwapped(reinterpret_cast<const uint32_t*>(l), size_t(length));
}

void BinarySceneOutput::writeBinaryArray(const float* const f, const int length) {
    if (!wroteHeader) startScene();
    if (length > 0) appendSwapped(reinterpret_cast<const uint32_t*>(f), size_t(length));
}

void BinarySceneOutput::writeBinaryArray(const double* const d, const int length) {
    if (!wroteHeader) startScene();
    if (length > 0) appendSwapped(reinterpret_cast<const uint64_t*>(d), size_t(length));
}

}  // namespace kestrav
