#pragma once

#include <Inventor/SoOutput.h>

#include <cstddef>

#include "convert/BlockPipeline.h"
#include "convert/WriteBehind.h"

namespace kestrav {

// An SoOutput for SoWriteAction that formats numbers itself and writes the
// ASCII scene to a descriptor in large blocks, producing the same bytes as
// Coin's own SoOutput with its default header and precision. Coin still
// decides everything else: traversal, field order, indentation, DEF and USE.
// Binary mode, custom headers and other float precisions are not supported.
//
// Coin's calls are only recorded here, on its thread: text as it is, numbers
// as they are held. Formatting the records, most of the work, is done block by
// block on up to threads threads, and the text is written out in order by
// whichever of them is free, so Coin's thread goes on recording meanwhile.
class SceneOutput : public SoOutput {
public:
    SceneOutput(int descriptor, size_t threads);

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
    // the descriptor failed: the scene there is then incomplete.
    bool finish();

    // Coin's calls are recorded in blocks of kRecordBytes; a text at least
    // kThreadedTextBytes long is formatted on several threads when it may use
    // them (a record takes at least a third of the text it stands for).
    static const size_t kRecordBytes = size_t(1) << 16;
    static const size_t kThreadedTextBytes = 3 * kRecordBytes * BlockPipeline::kBlocksBeforeThreads;

private:
    void startText();
    void takeBlock();
    void closeBlock();
    void nextBlock();
    void openRun();
    void appendCharacter(char c);
    void appendText(const char* s);
    template <class Number>
    void appendNumber(unsigned char tag, Number number);
    void appendQuoted(const char* s);

    WriteBehind writeBehind;
    // After the members its threads write to, so that they end first.
    BlockPipeline pipeline;
    // In the current block: where the length of the run being recorded goes
    // (written when the run ends), that length, where the next byte goes, and
    // where the block ends.
    unsigned char* run = nullptr;
    unsigned runLength = 0;
    unsigned char* cursor = nullptr;
    unsigned char* limit = nullptr;
};

}  // namespace kestrav
