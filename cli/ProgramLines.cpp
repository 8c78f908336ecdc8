#include "cli/ProgramLines.h"

namespace kestrav {

namespace {
const char* const kCannotReadLine = "Cannon create database from this 3ds file.";
const char* const kWarningStart = "Warning: ";
}  // namespace

std::string programLine(const std::string& text) { return "kestrav: " + text; }

std::vector<std::string> programLines(const Conversion& conversion) {
    // Out of memory, or refused before anything was read: no scene and no
    // reason from the system, so the program says it.
    const bool wholeRunEnded = conversion.status == Outcome::OutOfMemory ||
                               (conversion.status == Outcome::NotWritten && !conversion.root());
    std::vector<std::string> lines;
    for (const Message& message : conversion.messages) {
        switch (message.kind) {
        case Message::Kind::Warning: lines.push_back(kWarningStart + message.text); break;
        case Message::Kind::Note: lines.push_back(message.text); break;
        case Message::Kind::Error:
            if (conversion.status == Outcome::Unreadable) lines.push_back(kCannotReadLine);
            lines.push_back(wholeRunEnded ? programLine(message.text) : message.text);
            break;
        }
    }
    return lines;
}

}  // namespace kestrav
