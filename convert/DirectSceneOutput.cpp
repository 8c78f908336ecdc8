#include "convert/DirectSceneOutput.h"

#include <Inventor/SbName.h>
#include <Inventor/SbString.h>

#include <charconv>
#include <cstring>

#include "convert/NumberText.h"

namespace kestrav {

namespace {

using numbertext::formatFloat;
using numbertext::formatGeneral;

// Enough for any number written here, with a byte to spare for widening an
// exponent: "-2.225073858507201e-308" is 23 bytes.
const size_t kNumberRoom = 32;

}  // namespace

// Coin starts the text with its header and a blank line on the first write
// after a reset, whatever that write is.
void DirectSceneOutput::startText() {
    wroteHeader = TRUE;
    const SbString header = getDefaultASCIIHeader();
    append(header.getString(), size_t(header.getLength()));
    append("\n\n", 2);
}

void DirectSceneOutput::makeRoomForNumber() {
    if (kNumberRoom > capacity - used) flush();
}

void DirectSceneOutput::append(const char* bytes, size_t count) {
    if (count <= capacity - used) {
        std::memcpy(block + used, bytes, count);
        used += count;
    } else {
        appendInBlocks(bytes, count);
    }
}

// Strings and names are written in double quotes, with only the quote escaped.
void DirectSceneOutput::appendQuoted(const char* s) {
    append("\"", 1);
    for (const char* quote; (quote = std::strchr(s, '"')) != nullptr; s = quote + 1) {
        append(s, size_t(quote - s));
        append("\\\"", 2);
    }
    append(s, std::strlen(s));
    append("\"", 1);
}

void DirectSceneOutput::write(const char c) {
    if (!wroteHeader) startText();
    if (used < capacity)
        block[used++] = c;
    else
        append(&c, 1);
}

// Coin's own strings are short (indentation, brackets, separators): they are
// copied while their end is looked for.
void DirectSceneOutput::write(const char* s) {
    if (!wroteHeader) startText();
    char* out = block + used;
    char* const end = block + capacity;
    while (*s != '\0' && out != end) *out++ = *s++;
    used = size_t(out - block);
    if (*s != '\0') append(s, std::strlen(s));
}

void DirectSceneOutput::write(const SbString& s) {
    if (!wroteHeader) startText();
    appendQuoted(s.getString());
}

void DirectSceneOutput::write(const SbName& n) {
    if (!wroteHeader) startText();
    appendQuoted(n.getString());
}

void DirectSceneOutput::write(const int i) {
    if (!wroteHeader) startText();
    makeRoomForNumber();
    used = size_t(std::to_chars(block + used, block + used + kNumberRoom, i).ptr - block);
}

// Unsigned values are written in hexadecimal: 0x0, 0xffff.
void DirectSceneOutput::write(const unsigned int i) {
    if (!wroteHeader) startText();
    makeRoomForNumber();
    block[used] = '0';
    block[used + 1] = 'x';
    used = size_t(std::to_chars(block + used + 2, block + used + kNumberRoom, i, 16).ptr - block);
}

void DirectSceneOutput::write(const short s) { write(int(s)); }

void DirectSceneOutput::write(const unsigned short s) { write(static_cast<unsigned int>(s)); }

void DirectSceneOutput::write(const float f) {
    if (!wroteHeader) startText();
    makeRoomForNumber();
    used = size_t(formatFloat(block + used, block + used + kNumberRoom - 1, f) - block);
}

void DirectSceneOutput::write(const double d) {
    if (!wroteHeader) startText();
    makeRoomForNumber();
    used = size_t(formatGeneral(block + used, block + used + kNumberRoom - 1, d, 16) - block);
}

}  // namespace kestrav
