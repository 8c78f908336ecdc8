#include "convert/SceneOutput.h"

#include <Inventor/SbName.h>
#include <Inventor/SbString.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "convert/BlockOutput.h"

namespace kestrav {

namespace {

// Coin prints a float as printf's "%.8g" and a double as "%.16g", except that
// the exponent always has at least three digits, as the Windows C library
// writes them: 9.9999997e-006, 1e+030.
template <class Number>
char* formatGeneral(char* first, char* last, Number value, int precision) {
    char* end = std::to_chars(first, last, value, std::chars_format::general, precision).ptr;
    if (end - first >= 4 && end[-4] == 'e') {
        end[0] = end[-1];
        end[-1] = end[-2];
        end[-2] = '0';
        ++end;
    }
    return end;
}

// 10^k for k from -31 to 52, each the double nearest to it: the scales that
// bring the first eight digits of any finite float before the decimal point.
const int kLowestPower = -31;
const double kPowersOfTen[] = {
    1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20,
    1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8,
    1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4,
    1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16,
    1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28,
    1e29, 1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40,
    1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48, 1e49, 1e50, 1e51, 1e52,
};

const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

uint64_t digitPair(uint32_t n) {
    return uint64_t(uint8_t(kDigitPairs[2 * n])) | uint64_t(uint8_t(kDigitPairs[2 * n + 1])) << 8;
}

// The eight digits of n (below 10^8) as the characters of a word, the first
// in its lowest byte, built in a register: stored in pieces and read back
// whole, they would wait for the stores.
uint64_t eightDigits(uint32_t n) {
    const uint32_t high = n / 10000, low = n % 10000;
    return digitPair(high / 100) | digitPair(high % 100) << 16 | digitPair(low / 100) << 32 |
           digitPair(low % 100) << 48;
}

// Stores the characters of a word built by eightDigits, first to last.
void storeDigits(char* out, uint64_t word) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    std::memcpy(out, &word, 8);
}

// The float's first eight significant digits, rounded, and the decimal exponent
// of the first: false when the value lies too near a tie between two roundings
// for double arithmetic to decide, or is zero, infinite or NaN.
bool roundToEightDigits(float f, uint32_t& digits, int& exponent) {
    const double x = std::fabs(double(f));
    if (!(x > 0.0) || !(x <= double(std::numeric_limits<float>::max()))) return false;
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int binaryExponent = int(bits >> 52) - 1023;
    // floor(log10(x)) or one below it: 78913 / 2^18 is just under log10(2),
    // and the added 64 keeps the shifted value positive.
    exponent = ((binaryExponent * 78913 + (64 << 18)) >> 18) - 64;
    double scaled = x * kPowersOfTen[7 - exponent - kLowestPower];
    if (scaled >= 1e8) {
        ++exponent;
        scaled = x * kPowersOfTen[7 - exponent - kLowestPower];
    }
    // The product is off by less than 3e-8 from the exact x * 10^(7 - exponent).
    digits = uint32_t(scaled);
    const double fraction = scaled - double(digits);
    if (std::fabs(fraction - 0.5) < 1e-6) return false;
    if (fraction > 0.5) ++digits;
    if (digits == 100000000) {
        digits = 10000000;
        ++exponent;
    }
    return digits >= 10000000;
}

// Writes f as formatGeneral(f, 8) does, from eight rounded digits. Digits are
// copied eight at a time and the end set after, so up to 18 bytes from first
// are written.
char* formatFloat(char* first, char* last, float f) {
    uint32_t digits;
    int exponent;
    if (!roundToEightDigits(f, digits, exponent)) return formatGeneral(first, last, f, 8);
    char* out = first;
    *out = '-';
    out += std::signbit(f) ? 1 : 0;
    const uint64_t figures = eightDigits(digits);
    // The first digit is not 0, so some byte of the word differs from '0'.
    const int count = 8 - __builtin_clzll(figures ^ 0x3030303030303030u) / 8;
    if (exponent >= 0 && exponent < 8) {
        const int whole = exponent + 1;
        storeDigits(out, figures);
        out += whole;
        if (count <= whole) return out;
        *out = '.';
        storeDigits(out + 1, figures >> (8 * whole));
        return out + 1 + (count - whole);
    }
    if (exponent < 0 && exponent >= -4) {
        std::memcpy(out, "0.000", 5);
        out += 1 - exponent;
        storeDigits(out, figures);
        return out + count;
    }
    storeDigits(out, figures);
    out[1] = '.';
    storeDigits(out + 2, figures >> 8);
    out += count > 1 ? count + 1 : 1;
    std::memcpy(out, exponent < 0 ? "e-0" : "e+0", 3);
    std::memcpy(out + 3, kDigitPairs + 2 * (exponent < 0 ? -exponent : exponent), 2);
    return out + 5;
}

// What Coin's write calls leave in a block: items of a run of text and the
// number after it. An item is the run's length, its bytes, the number's kind
// and the number as the machine holds it; kNoNumber ends a run that is not
// followed by one (at the end of a block, or when a run is at its longest).
// Every item has the same shape, so formatting them is a loop without
// surprises for the processor.
enum RecordTag : unsigned char { kNoNumber, kFloat, kInt, kHexadecimal, kDouble };
const unsigned kLongestRun = 255;

// A block of records, and room past it for the longest record (a tag and a
// double, a tag and the next run's length); its text is at most four times as
// long (a float of five bytes is at most 15 characters, a double of nine at
// most 23), and the formatting writes up to kSlack bytes past what it keeps.
const size_t kRecordBytes = SceneOutput::kRecordBytes;
const size_t kSlack = 64;
const size_t kTextBytes = 4 * (kRecordBytes + kSlack);
// Coin's own strings (indentation, brackets, separators) are shorter.
const size_t kShortText = 32;

template <class Number>
Number numberAt(const unsigned char* record) {
    Number number;
    std::memcpy(&number, record, sizeof number);
    return number;
}

// The text of a block of records: the hot loop of every ASCII scene, on
// whichever thread takes the block.
void formatBlock(BlockPipeline::Block& block) {
    const unsigned char* record = reinterpret_cast<const unsigned char*>(block.input.get());
    const unsigned char* const end = record + block.inputUsed;
    char* out = block.output.get();
    while (record < end) {
        // Most runs are a separator or an indentation: one short copy of fixed
        // size, over the slack at the ends of both buffers.
        const unsigned length = *record++;
        if (length <= 32)
            std::memcpy(out, record, 32);
        else
            std::memcpy(out, record, length);
        out += length;
        record += length;
        switch (*record++) {
        case kNoNumber:
            break;
        case kFloat:
            out = formatFloat(out, out + 31, numberAt<float>(record));
            record += 4;
            break;
        case kInt:
            out = std::to_chars(out, out + 31, numberAt<int>(record)).ptr;
            record += 4;
            break;
        case kHexadecimal:
            out[0] = '0';
            out[1] = 'x';
            out = std::to_chars(out + 2, out + 31, numberAt<unsigned>(record), 16).ptr;
            record += 4;
            break;
        default:
            out = formatGeneral(out, out + 31, numberAt<double>(record), 16);
            record += 8;
            break;
        }
    }
    block.outputUsed = size_t(out - block.output.get());
}

}  // namespace

SceneOutput::SceneOutput(int descriptor, size_t threads)
    : pipeline(threads, kRecordBytes + kSlack, kTextBytes, formatBlock,
               [this](const BlockPipeline::Block& block) { writeOut(block); }),
      fd(descriptor) {
    takeBlock();
}

void SceneOutput::takeBlock() {
    unsigned char* const records = reinterpret_cast<unsigned char*>(pipeline.current().input.get());
    limit = records + kRecordBytes;
    run = records;
    runLength = 0;
    cursor = records + 1;
}

void SceneOutput::closeBlock() {
    *run = static_cast<unsigned char>(runLength);
    *cursor++ = kNoNumber;
    BlockPipeline::Block& block = pipeline.current();
    block.inputUsed = size_t(cursor - reinterpret_cast<unsigned char*>(block.input.get()));
}

// A block ends before the limit is passed; no record is longer than the room
// past it.
void SceneOutput::nextBlock() {
    closeBlock();
    pipeline.handOn();
    takeBlock();
}

// Makes room for text: a new block at the limit, a new run after a full one.
void SceneOutput::openRun() {
    if (cursor >= limit) {
        nextBlock();
        return;
    }
    *run = static_cast<unsigned char>(runLength);
    *cursor = kNoNumber;
    run = cursor + 1;
    runLength = 0;
    cursor += 2;
}

// After a failed write the scene is still recorded, so Coin's traversal runs
// to its end, but nothing more is written.
void SceneOutput::writeOut(const BlockPipeline::Block& block) {
    if (writeError == 0 && !writeAll(fd, block.output.get(), block.outputUsed)) writeError = errno;
}

bool SceneOutput::finish() {
    closeBlock();
    pipeline.finish();
    if (writeError != 0) errno = writeError;
    return writeError == 0;
}

inline void SceneOutput::appendCharacter(char c) {
    if (runLength == kLongestRun || cursor >= limit) openRun();
    *cursor++ = static_cast<unsigned char>(c);
    ++runLength;
}

// Copied while their end is looked for: most are short.
void SceneOutput::appendText(const char* s) {
    while (*s != '\0') {
        if (runLength == kLongestRun || cursor >= limit) openRun();
        unsigned char* out = cursor;
        unsigned char* const end = out + std::min(size_t(kLongestRun - runLength), size_t(limit - out));
        while (*s != '\0' && out != end) *out++ = static_cast<unsigned char>(*s++);
        runLength += unsigned(out - cursor);
        cursor = out;
    }
}

template <class Number>
inline void SceneOutput::appendNumber(unsigned char tag, Number number) {
    if (cursor >= limit) nextBlock();
    unsigned char* const record = cursor;
    *run = static_cast<unsigned char>(runLength);
    record[0] = tag;
    std::memcpy(record + 1, &number, sizeof number);
    run = record + 1 + sizeof number;
    runLength = 0;
    cursor = run + 1;
}

// Coin starts the text with its header and a blank line on the first write
// after a reset, whatever that write is.
void SceneOutput::startText() {
    wroteHeader = TRUE;
    appendText(getDefaultASCIIHeader().getString());
    appendText("\n\n");
}

// Strings and names are written in double quotes, with only the quote escaped.
void SceneOutput::appendQuoted(const char* s) {
    appendCharacter('"');
    for (; *s != '\0'; ++s) {
        if (*s == '"') appendCharacter('\\');
        appendCharacter(*s);
    }
    appendCharacter('"');
}

void SceneOutput::write(const char c) {
    if (!wroteHeader) startText();
    appendCharacter(c);
}

// Coin's own strings are short: indentation, brackets, separators.
void SceneOutput::write(const char* s) {
    if (!wroteHeader) startText();
    // With room for a short string in the run and the block, one loop.
    if (kLongestRun - runLength >= kShortText && size_t(limit - cursor) >= kShortText) {
        unsigned char* out = cursor;
        unsigned char* const end = out + kShortText;
        while (*s != '\0' && out != end) *out++ = static_cast<unsigned char>(*s++);
        runLength += unsigned(out - cursor);
        cursor = out;
    }
    if (*s != '\0') appendText(s);
}

void SceneOutput::write(const SbString& s) {
    if (!wroteHeader) startText();
    appendQuoted(s.getString());
}

void SceneOutput::write(const SbName& n) {
    if (!wroteHeader) startText();
    appendQuoted(n.getString());
}

void SceneOutput::write(const int i) {
    if (!wroteHeader) startText();
    appendNumber(kInt, i);
}

// Unsigned values are written in hexadecimal: 0x0, 0xffff.
void SceneOutput::write(const unsigned int i) {
    if (!wroteHeader) startText();
    appendNumber(kHexadecimal, i);
}

void SceneOutput::write(const short s) { write(int(s)); }

void SceneOutput::write(const unsigned short s) { write(static_cast<unsigned int>(s)); }

void SceneOutput::write(const float f) {
    if (!wroteHeader) startText();
    appendNumber(kFloat, f);
}

void SceneOutput::write(const double d) {
    if (!wroteHeader) startText();
    appendNumber(kDouble, d);
}

}  // namespace kestrav
