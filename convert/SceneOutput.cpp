#include "convert/SceneOutput.h"

#include <Inventor/SbName.h>
#include <Inventor/SbString.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "convert/BlockOutput.h"
#include "convert/NumberText.h"

namespace kestrav {

namespace {

using numbertext::formatFloat;
using numbertext::formatGeneral;

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
    : writeBehind(descriptor),
      pipeline(threads, kRecordBytes + kSlack, kTextBytes, formatBlock,
               [this](const BlockPipeline::Block& block) { writeBehind.write(block.output.get(), block.outputUsed); }) {
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

bool SceneOutput::finish() {
    closeBlock();
    pipeline.finish();
    if (writeBehind.error() != 0) errno = writeBehind.error();
    return writeBehind.error() == 0;
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
