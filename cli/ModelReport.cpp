#include "cli/ModelReport.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "convert/WriteAll.h"

namespace kestrav {

namespace {
const char* outcomeName(FileEnd end) {
    switch (end) {
    case FileEnd::Converted: return "converted";
    case FileEnd::ConvertedWithDamage: return "damaged";
    case FileEnd::UpToDate: return "up-to-date";
    default: return "failed";
    }
}

nlohmann::ordered_json countOrNull(bool known, long long value) {
    return known ? nlohmann::ordered_json(value) : nlohmann::ordered_json(nullptr);
}
}  // namespace

ModelReport::~ModelReport() {
    if (ownDescriptor) close(descriptor);
}

bool ModelReport::open(const std::string& path, std::string& failure) {
    if (path == "-") {
        descriptor = STDOUT_FILENO;
        return true;
    }
    descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        failure = std::strerror(errno);
        return false;
    }
    ownDescriptor = true;
    return true;
}

bool ModelReport::add(const ModelReportEntry& entry, std::string& failure) {
    const std::string line = reportLine(entry) + '\n';
    if (writeAll(descriptor, line.data(), line.size())) return true;
    failure = std::strerror(errno);
    return false;
}

std::string reportLine(const ModelReportEntry& entry) {
    nlohmann::ordered_json object;
    object["model"] = entry.model;
    object["scene"] = entry.scene;
    object["outcome"] = outcomeName(entry.end);
    object["messages"] = entry.messages;
    object["seconds"] = entry.seconds;
    object["input_bytes"] = countOrNull(entry.inputBytes >= 0, entry.inputBytes);
    object["output_bytes"] = countOrNull(entry.outputBytes >= 0, entry.outputBytes);
    object["meshes"] = countOrNull(entry.built, (long long)entry.figures.meshes);
    object["instances"] = countOrNull(entry.built, (long long)entry.figures.instances);
    object["textures_found"] = countOrNull(entry.built, (long long)entry.figures.texturesFound);
    object["textures_missing"] = countOrNull(entry.built, (long long)entry.figures.texturesMissing);
    return object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace kestrav
