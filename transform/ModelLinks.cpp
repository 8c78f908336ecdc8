#include "transform/ModelLinks.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>

namespace kestrav {

namespace {

template <size_t N>
std::string text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N - 1));
}

// A node's name, and name "." instanceName (also for an empty instance name).
std::string plainName(const KeyframeNode& node) { return text(node.name); }
std::string dottedName(const KeyframeNode& node) { return plainName(node) + "." + text(node.instanceName); }

}  // namespace

ModelLinks::ModelLinks(const MeshList& meshes, const KeyframeList& keyframes) : nodes(keyframes.nodes) {
    // A parent name matches the first node with that full name. Dummies are all
    // named "$$$DUMMY", so a name that holds it matches dotted names only.
    std::unordered_map<std::string, size_t> byName, byDottedName;
    std::unordered_map<std::string, std::vector<size_t>> byMeshName;
    for (size_t i = 0; i < keyframes.count; ++i) {
        const KeyframeNode& node = nodes[i];
        const std::string dotted = dottedName(node);
        byName.emplace(node.instanceName[0] != '\0' ? dotted : plainName(node), i);
        byDottedName.emplace(dotted, i);
        byMeshName[plainName(node)].push_back(i);
        linked.emplace_back(node);
    }
    parents.assign(keyframes.count, kNoNode);
    for (size_t i = 0; i < keyframes.count; ++i) {
        const std::string parent = text(nodes[i].parentName);
        if (parent.empty()) continue;
        const auto& names = parent.find("$$$DUMMY") != std::string::npos ? byDottedName : byName;
        const auto found = names.find(parent);
        if (found != names.end()) parents[i] = found->second;
    }

    // A name that two meshes share draws the first of them each time.
    std::unordered_map<std::string, size_t> firstMesh;
    for (size_t i = 0; i < meshes.count; ++i) firstMesh.emplace(text(meshes.names[i]), i);
    for (size_t i = 0; i < meshes.count; ++i) {
        const std::string name = text(meshes.names[i]);
        const size_t mesh = firstMesh[name];
        const auto instances = byMeshName.find(name);
        if (instances == byMeshName.end()) {
            meshInstances.push_back({mesh, kNoNode});
            continue;
        }
        for (size_t node : instances->second) meshInstances.push_back({mesh, node});
    }
}

NodeChain ModelLinks::chainOf(size_t node) const {
    NodeChain chain;
    std::vector<size_t> indices;
    for (size_t at = node; at != kNoNode && chain.size() < kMaxChain; at = parents[at]) {
        if (std::find(indices.begin(), indices.end(), at) != indices.end()) break;
        indices.push_back(at);
        chain.push_back(&linked[at]);
    }
    return chain;
}

}  // namespace kestrav
