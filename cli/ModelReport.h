#pragma once

#include <string>
#include <vector>

#include "cli/BatchReport.h"
#include "convert/ConversionFigures.h"

namespace kestrav {

// What a batch knows about one model when it is done with it.
struct ModelReportEntry {
    std::string model;
    std::string scene;
    FileEnd end = FileEnd::Failed;
    std::vector<std::string> messages;
    double seconds = 0;
    long long inputBytes = -1;   // -1: unknown (the model could not be looked at)
    long long outputBytes = -1;  // -1: no scene was written
    bool built = false;          // false: no scene was made, figures are unknown
    ConversionFigures figures;
};

// --report: one JSON object a line (JSON Lines), each written whole as its
// model is done, so a pipeline can follow the file while the batch runs.
class ModelReport {
public:
    ModelReport() = default;
    ~ModelReport();
    ModelReport(const ModelReport&) = delete;
    ModelReport& operator=(const ModelReport&) = delete;

    // Creates or empties the file at path ("-": standard output); false with
    // the system's reason when it cannot.
    bool open(const std::string& path, std::string& failure);
    bool isOpen() const { return descriptor >= 0; }
    // False with the system's reason when the line could not be written.
    bool add(const ModelReportEntry& entry, std::string& failure);

private:
    int descriptor = -1;
    bool ownDescriptor = false;
};

// The object of one entry, as one line without its newline. Bytes that are
// not UTF-8 (a name from an old code page) become U+FFFD.
std::string reportLine(const ModelReportEntry& entry);

}  // namespace kestrav
