#include "cli/BatchReport.h"

#include <cstdio>

namespace kestrav {

namespace {
// Back to the start of the line and clear it, so a redrawn line leaves nothing
// of a longer one behind.
const char* const kClearLine = "\r\033[K";

std::string seconds(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

std::string fileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

FileEnd fileEndOf(Outcome outcome) {
    switch (outcome) {
    case Outcome::Converted: return FileEnd::Converted;
    case Outcome::DamagedChunksSkipped:
    case Outcome::DamageEndedWalk: return FileEnd::ConvertedWithDamage;
    default: return FileEnd::Failed;
    }
}

BatchReport::BatchReport(size_t fileCount, size_t terminalColumns) : total(fileCount), columns(terminalColumns) {}

std::string BatchReport::fileDone(const std::string& input, FileEnd end, const std::vector<std::string>& lines,
                                  double elapsedSeconds) {
    ++done;
    if (end == FileEnd::Converted || end == FileEnd::ConvertedWithDamage) ++converted;
    if (end == FileEnd::ConvertedWithDamage) ++damaged;
    if (end == FileEnd::UpToDate) ++upToDate;
    if (end == FileEnd::Failed) failedInputs.push_back(input);

    std::string text = columns != 0 && !lines.empty() ? kClearLine : "";
    for (const std::string& line : lines) text += input + ": " + line + '\n';
    if (columns == 0) return text;
    std::string progress = "[" + std::to_string(done) + "/" + std::to_string(total) + "] " + fileNameOf(input) +
                           " " + seconds(elapsedSeconds);
    // The last column stays free: a terminal that wraps there could not redraw.
    if (progress.size() >= columns) progress.resize(columns - 1);
    return text + kClearLine + progress;
}

std::string BatchReport::folderUnlisted(const std::string& folder, const std::string& reason) {
    failedInputs.push_back(folder);
    return std::string(columns != 0 ? kClearLine : "") + "kestrav: Cannot list the folder \"" + folder + "\": " +
           reason + '\n';
}

std::string BatchReport::summary(double elapsedSeconds) const {
    std::string text = columns != 0 ? kClearLine : "";
    text += "kestrav: " + std::to_string(converted) + " converted";
    if (damaged != 0) text += " (" + std::to_string(damaged) + " with damaged parts skipped)";
    if (upToDate != 0) text += ", " + std::to_string(upToDate) + " up to date";
    if (!failedInputs.empty()) {
        text += ", " + std::to_string(failedInputs.size()) + " failed:";
        for (size_t i = 0; i < failedInputs.size(); ++i) text += (i == 0 ? " " : ", ") + failedInputs[i];
    }
    return text + "; " + seconds(elapsedSeconds) + '\n';
}

}  // namespace kestrav
