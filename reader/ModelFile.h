#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kestrav {

// What a model's first bytes say before the walk reads them: a folder, an
// empty file or one that starts with no chunk kestrav knows would otherwise
// give an empty scene as if it were a model.
enum class ModelFileKind {
    Model,        // starts with a known chunk id; damage later is the walk's business
    CannotRead,   // opening, seeking or reading failed; error holds the errno
    Empty,
    NotAModel,
    OutOfMemory,  // no room for the file's bytes
};

// A model file read whole, so the walk reads from memory whether the model
// came from a file or from the caller.
struct ModelFile {
    ModelFileKind kind = ModelFileKind::CannotRead;
    int error = 0;
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

ModelFile readModelFile(const std::string& path);

// Model, Empty or NotAModel, for bytes already in memory.
ModelFileKind kindOfModel(const uint8_t* bytes, size_t size);

}  // namespace kestrav
