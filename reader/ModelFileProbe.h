#pragma once

#include <string>

namespace kestrav {

// What a file's first bytes say before the walk reads it: a folder, an empty
// file or one that starts with no chunk kestrav knows would otherwise give an
// empty scene as if it were a model.
enum class ModelFileKind {
    Model,      // starts with a known chunk id; damage later is the walk's business
    CannotRead, // opening, seeking or reading failed; error holds the errno
    Empty,
    NotAModel,
};

struct ModelFileProbe {
    ModelFileKind kind = ModelFileKind::CannotRead;
    int error = 0;
};

ModelFileProbe probeModelFile(const std::string& path);

}  // namespace kestrav
