#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/ConversionFigures.h"
#include "kestrav/kestrav.h"

namespace kestrav {

// What a batch's worker sends back for one file, in one message so that the
// file's lines always arrive together.
struct FileResult {
    uint32_t index = 0;  // the file's place in the batch
    Outcome status = Outcome::Unreadable;
    std::vector<std::string> lines;
    bool built = false;  // a scene was made, and figures says what it holds
    ConversionFigures figures;
    uint64_t microseconds = 0;  // the conversion's wall time
};

// The message's bytes: its length, then index, outcome, whether a scene was
// built, the four figures, the time (low word, high word), line count and each
// line with its length before it, all as 32-bit words of this machine.
std::string encodeFileResult(const FileResult& result);

enum class MessageTake { Incomplete, Taken, Damaged };

// Takes one whole message off the front of buffer into result; Incomplete
// while it has not all arrived. Damaged for bytes no worker of a batch of
// fileCount files sends: lengths that do not add up, an outcome kestrav does
// not have, an index of no file of the batch. Nothing in one is trusted.
MessageTake takeFileResult(std::string& buffer, size_t fileCount, FileResult& result);

}  // namespace kestrav
