#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/ModelRecords.h"

namespace kestrav {

// The nodes that place one node: the node itself first, then its parent, and
// so on up to the root.
using NodeChain = std::vector<const KeyframeNode*>;

// One mesh drawn once: its mesh and its keyframer node, by index; node is
// kNoNode for a mesh that no node places.
constexpr size_t kNoNode = SIZE_MAX;

struct MeshInstance {
    size_t mesh;
    size_t node;
};

// The model's name links, resolved once after the walk: each node's parent and
// each mesh's instances, so placing an instance follows indices instead of
// searching names.
class ModelLinks {
public:
    // No model: no instances.
    ModelLinks() = default;
    // The lists must outlive the links.
    ModelLinks(const MeshList& meshes, const KeyframeList& keyframes);

    // Every mesh instance in the order the scene holds them: the meshes in file
    // order, each with the nodes that carry its name in file order, or once
    // without a node when none does.
    const std::vector<MeshInstance>& instances() const { return meshInstances; }

    // The chain of the node at index; empty for kNoNode. A parent the file does not
    // hold ends the chain, and so does a link back into the chain (a cycle) and
    // a chain deeper than kMaxChain, so no file can make it endless.
    NodeChain chainOf(size_t node) const;
    // The same for a node of the model's keyframer list.
    NodeChain chainOf(const KeyframeNode& node) const { return chainOf(size_t(&node - nodes)); }

    static constexpr size_t kMaxChain = 257;

private:
    const KeyframeNode* nodes = nullptr;
    std::vector<size_t> parents;  // per node: the parent's index, or kNoNode
    std::vector<MeshInstance> meshInstances;
};

}  // namespace kestrav
