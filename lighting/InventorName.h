#pragma once

#include <string>

class SoNode;

namespace kestrav {

// Names the node after a 3DS object, made a valid Inventor name: characters
// Inventor does not allow become '_', and a leading digit gets one before it.
// An empty name leaves the node unnamed.
void nameAfterObject(SoNode* node, const std::string& objectName);

}  // namespace kestrav
