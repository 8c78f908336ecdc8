#pragma once

#include <Inventor/SoType.h>

#include <vector>

class SoNode;

namespace kestrav {

// Every node below root of type or of a type derived from it, in traversal
// order, the children a switch hides included; a node reached along several
// paths is listed once for each. The scene holds them: root must outlive the
// list.
std::vector<SoNode*> nodesOfType(SoNode* root, SoType type);

}  // namespace kestrav
