#pragma once

#include <Inventor/SoOutput.h>

#include <cstddef>

namespace kestrav {

// An SoOutput for SoWriteAction that formats numbers itself and writes the
// ASCII scene to a descriptor in large blocks, producing the same bytes as
// Coin's own SoOutput with its default header and precision. Coin still
// decides everything else: traversal, field order, indentation, DEF and USE.
// Binary mode, custom headers and other float precisions are not supported.
class SceneOutput : public SoOutput {
public:
    explicit SceneOutput(int fd);
    ~SceneOutput() override;
    SceneOutput(const SceneOutput&) = delete;
    SceneOutput& operator=(const SceneOutput&) = delete;

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

    // Writes out what is still held. False, with errno set, when any write to
    // the descriptor failed (or the block could not be allocated): the text
    // there is then incomplete.
    bool finish();

private:
    void startText();
    void append(const char* bytes, size_t count);
    void appendInBlocks(const char* bytes, size_t count);
    void appendQuoted(const char* s);
    bool roomForNumber();
    void flush();

    const int fd;
    char* const block;
    const size_t capacity;
    size_t used = 0;
    int writeError = 0;
};

// Writes all of data to fd, going on after partial writes and interruptions.
// False, with errno set, when a write fails.
bool writeAll(int fd, const void* data, size_t size);

}  // namespace kestrav
