#pragma once

#include <cstddef>

#include "convert/BlockOutput.h"

namespace kestrav {

// An SoOutput for SoWriteAction that formats numbers itself and writes the
// ASCII scene to a descriptor in large blocks, producing the same bytes as
// Coin's own SoOutput with its default header and precision. Coin still
// decides everything else: traversal, field order, indentation, DEF and USE.
// Binary mode, custom headers and other float precisions are not supported.
class SceneOutput : public BlockOutput {
public:
    explicit SceneOutput(int descriptor) : BlockOutput(descriptor) {}

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

private:
    void startText();
    void append(const char* bytes, size_t count);
    void appendQuoted(const char* s);
    bool roomForNumber();
};

}  // namespace kestrav
