#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "reader/ModelRecords.h"
#include "transform/KeyframeTrack.h"

namespace kestrav {

// A keyframer node with what placing it at many frames needs worked out once:
// the accumulated turns of its rotation keys.
struct LinkedNode {
    // The node's keys must outlive it.
    explicit LinkedNode(const KeyframeNode& node)
        : record(&node), rotation(node.rotationKeys, node.rotationValues, node.rotationKeyCount) {}

    const KeyframeNode* record;
    RotationTrack rotation;
};

// The nodes that place one node: the node itself first, then its parent, and
// so on up to the root. It points into the links that made it.
using NodeChain = std::vector<const LinkedNode*>;

// One mesh drawn once: its mesh and its keyframer node, by index; node is
// kNoNode for a mesh that no node places.
constexpr size_t kNoNode = SIZE_MAX;

struct MeshInstance {
    size_t mesh;
    size_t node;
};

// The model's name links, resolved once after the walk: each node's parent and
// each mesh's instances, so placing an instance follows indices instead of
// searching names; and each node's rotation totals.
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

    // The chain of the node at index, valid while the links are; empty for
    // kNoNode. A parent the file does not hold ends the chain, and so does a
    // link back into the chain (a cycle) and a chain deeper than kMaxChain, so
    // no file can make it endless.
    NodeChain chainOf(size_t node) const;
    // The same for a node of the model's keyframer list.
    NodeChain chainOf(const KeyframeNode& node) const { return chainOf(size_t(&node - nodes)); }

    static constexpr size_t kMaxChain = 257;

private:
    const KeyframeNode* nodes = nullptr;
    std::vector<LinkedNode> linked;
    std::vector<size_t> parents;  // per node: the parent's index, or kNoNode
    std::vector<MeshInstance> meshInstances;
};

}  // namespace kestrav
