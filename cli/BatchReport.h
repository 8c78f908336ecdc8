#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "kestrav/kestrav.h"

namespace kestrav {

// How one file of a batch ended, as the summary counts it.
enum class FileEnd { Converted, ConvertedWithDamage, Failed, UpToDate };

FileEnd fileEndOf(Outcome outcome);

// The text a batch writes to standard error: each file's lines together, each
// naming its file, a progress line redrawn in place when a person is watching,
// and one summary line at the end. Prints nothing itself.
class BatchReport {
public:
    // columns: the terminal's width, so the progress line never wraps (and so
    // can be redrawn); 0 for no progress line at all.
    BatchReport(size_t fileCount, size_t columns);

    // The text to write when a file is done.
    std::string fileDone(const std::string& input, FileEnd end, const std::vector<std::string>& lines,
                         double elapsedSeconds);
    // A folder of a -r batch that could not be listed counts as failed.
    std::string folderUnlisted(const std::string& folder, const std::string& reason);
    std::string summary(double elapsedSeconds) const;
    // 0 when every file was converted or up to date, 1 when any failed.
    int exitStatus() const { return failedInputs.empty() ? 0 : 1; }

private:
    size_t total;
    size_t columns;
    size_t done = 0;
    size_t converted = 0;
    size_t damaged = 0;
    size_t upToDate = 0;
    std::vector<std::string> failedInputs;
};

}  // namespace kestrav
