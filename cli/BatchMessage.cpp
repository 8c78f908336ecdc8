#include "cli/BatchMessage.h"

#include <cstring>

namespace kestrav {

namespace {
// Far more than the lines of any file; a length past it is not waited for.
const size_t kLongestMessage = 16 << 20;
const size_t kWord = sizeof(uint32_t);

void put(std::string& bytes, uint32_t value) { bytes.append(reinterpret_cast<const char*>(&value), kWord); }

// Reads words and strings off a span of bytes, never past its end; a read
// that would go past fails, and every later one too.
class MessageCursor {
public:
    MessageCursor(const char* bytes, size_t size) : at(bytes), left(size) {}

    bool word(uint32_t& value) {
        if (left < kWord) return fail();
        std::memcpy(&value, at, kWord);
        skip(kWord);
        return true;
    }
    bool text(size_t length, std::string& value) {
        if (length > left) return fail();
        value.assign(at, length);
        skip(length);
        return true;
    }
    size_t remaining() const { return left; }

private:
    bool fail() {
        left = 0;
        return false;
    }
    void skip(size_t count) {
        at += count;
        left -= count;
    }

    const char* at;
    size_t left;
};
}  // namespace

std::string encodeFileResult(const FileResult& result) {
    std::string body;
    put(body, result.index);
    put(body, uint32_t(result.status));
    put(body, uint32_t(result.built));
    for (size_t figure : {result.figures.meshes, result.figures.instances, result.figures.texturesFound,
                          result.figures.texturesMissing})
        put(body, uint32_t(figure));
    put(body, uint32_t(result.microseconds));
    put(body, uint32_t(result.microseconds >> 32));
    put(body, uint32_t(result.lines.size()));
    for (const std::string& line : result.lines) {
        put(body, uint32_t(line.size()));
        body += line;
    }
    std::string message;
    put(message, uint32_t(body.size()));
    return message + body;
}

MessageTake takeFileResult(std::string& buffer, size_t fileCount, FileResult& result) {
    uint32_t size = 0;
    if (!MessageCursor(buffer.data(), buffer.size()).word(size)) return MessageTake::Incomplete;
    if (size > kLongestMessage) return MessageTake::Damaged;
    if (buffer.size() - kWord < size) return MessageTake::Incomplete;

    MessageCursor body(buffer.data() + kWord, size);
    uint32_t status = 0, built = 0, lineCount = 0;
    uint32_t figures[4] = {0, 0, 0, 0}, time[2] = {0, 0};
    if (!body.word(result.index) || !body.word(status) || !body.word(built)) return MessageTake::Damaged;
    for (uint32_t& figure : figures)
        if (!body.word(figure)) return MessageTake::Damaged;
    if (!body.word(time[0]) || !body.word(time[1]) || !body.word(lineCount)) return MessageTake::Damaged;
    result.microseconds = uint64_t(time[1]) << 32 | time[0];
    if (result.index >= fileCount || status > uint32_t(Outcome::OutOfMemory) || built > 1) return MessageTake::Damaged;
    result.built = built == 1;
    result.figures = {figures[0], figures[1], figures[2], figures[3]};
    // Each line takes a word at least: a count past that is refused before it sizes anything.
    if (lineCount > body.remaining() / kWord) return MessageTake::Damaged;
    result.status = Outcome(status);
    result.lines.resize(lineCount);
    for (std::string& line : result.lines) {
        uint32_t length = 0;
        if (!body.word(length) || !body.text(length, line)) return MessageTake::Damaged;
    }
    if (body.remaining() != 0) return MessageTake::Damaged;
    buffer.erase(0, kWord + size);
    return MessageTake::Taken;
}

}  // namespace kestrav
