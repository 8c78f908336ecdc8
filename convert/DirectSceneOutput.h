#pragma once

#include <cstddef>

#include "convert/BlockOutput.h"

namespace kestrav {

// SceneOutput's text on one thread: each number is formatted as Coin hands it
// over, straight into the block, which spares the recording and second pass
// that sharing the formatting between threads needs. Same bytes.
class DirectSceneOutput : public BlockOutput {
public:
    explicit DirectSceneOutput(int descriptor) : BlockOutput(descriptor, 1) {}

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
    void makeRoomForNumber();
};

}  // namespace kestrav
