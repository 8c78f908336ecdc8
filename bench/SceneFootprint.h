#pragma once

// What a converted model holds in memory, counted from its contents rather
// than measured, so the peak resident size can be judged against it.

#include <cstddef>

namespace kestrav {
class ModelDatabase;
}
class SoNode;

// Bytes of the records and arrays the model database holds after a read.
size_t modelDatabaseBytes(kestrav::ModelDatabase& database);

struct SceneCount {
    size_t nodes = 0;
    size_t fieldValueBytes = 0;  // values in the multiple-value fields (points, normals, indices)
};

// Walks the graph under root; a node reached twice is counted twice.
SceneCount countScene(SoNode* root);
